// The fault matrix: every step of SMTP and POP3 crossed with every way a
// server can fail there, against the real controls. Each cell must end
// cleanly, and the outcome table must be the one docs/RELIABILITY.md shows.
#include "docobjects.h"
#include "faultcases.h"
#include "faulttable.h"
#include "ineterrors.h"
#include "controlevents.h"
#include "scriptserver.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QFile>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QTimer>
#include <QTest>

namespace {
// Longest a cell may take to come to rest: two silence timeouts and slack.
constexpr int kRestMs = 6000;
const QString kHeading = QStringLiteral("## Fault matrix");
const QString kSmallText = QStringLiteral("fault matrix\r\n");

// Runs the event loop until the predicate holds; false after ms. Server and
// control share this thread, so every exchange needs a turn of the loop:
// waiting for events instead of polling keeps a cell at a few milliseconds.
template <typename Predicate>
bool WaitFor(Predicate predicate, int ms)
{
    QTimer tick; // wakes the wait even when nothing happens
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

QString Shown(const QString &text)
{
    QString shown;
    for (QChar c : text.left(60))
        shown += c.unicode() < 32 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
    return shown;
}

// The events from the call that reached the step on, without the routine
// opening of a connection, then the commands sent after the fault.
QString ClientText(const QStringList &events, const QStringList &sent)
{
    QStringList shown = events;
    for (const QString &opening : {QStringLiteral("state 1"), QStringLiteral("state 2"), QStringLiteral("state 3")})
        if (!shown.isEmpty() && shown.first() == opening)
            shown.removeFirst();
    QString text = shown.join(QStringLiteral(", "));
    if (!sent.isEmpty()) {
        QStringList commands;
        for (const QString &line : sent)
            commands << line.section(QLatin1Char(' '), 0, 0).toUpper();
        text += QStringLiteral("; then sent ") + commands.join(QStringLiteral(", "));
    }
    return text.isEmpty() ? QStringLiteral("nothing") : text;
}

QStringList Judge(const Step &step, const Outcome &expected, const ControlEvents &rec, qsizetype mark, bool document,
                  bool rested, short state, bool busy)
{
    QStringList problems;
    if (!rested)
        problems << QStringLiteral("did not come to rest within %1 s").arg(kRestMs / 1000);
    const QList<short> errors = expected.error ? QList<short>{expected.error} : QList<short>{};
    if (rec.errors != errors) {
        QStringList got;
        for (short n : rec.errors)
            got << QString::number(n);
        problems << QStringLiteral("errors [%1], expected [%2]")
                        .arg(got.join(QLatin1Char(' ')), expected.error ? QString::number(expected.error) : QString());
    }
    if (state != expected.state)
        problems << QStringLiteral("state %1, expected %2").arg(state).arg(expected.state);
    if (busy)
        problems << QStringLiteral("still busy");
    const QStringList after = rec.events.mid(mark);
    if (expected.error && !step.successEvent.isEmpty() && after.contains(step.successEvent))
        problems << QStringLiteral("claimed success (%1)").arg(step.successEvent);
    if (document) {
        if (after.count(QStringLiteral("doc 1")) != 1 || after.count(QStringLiteral("doc 5")) != 1)
            problems << QStringLiteral("the document did not begin and end once");
        const qsizetype error = after.indexOf(QRegularExpression(QStringLiteral("^error ")));
        if (error >= 0 && error > after.indexOf(QStringLiteral("doc 5")))
            problems << QStringLiteral("the error came after the document ended");
    }
    return problems;
}

QString Decoded(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString::fromLatin1(bytes) : text;
}

int ClientCommands(const QStringList &script)
{
    int count = 0;
    for (const QString &step : script)
        count += step.startsWith(QLatin1String("C:")) ? 1 : 0;
    return count;
}

void Send(TSMTP *smtp, const QString &file = QString())
{
    TDocHeaders &h = smtp->DocInput()->Headers();
    h.Clear();
    h.Add("To", "a@x.test, b@x.test");
    h.Add("From", "me@x.test");
    h.Add("Subject", "fault matrix");
    smtp->SendDoc(h, file.isEmpty() ? std::optional<QString>(kSmallText) : std::nullopt, file);
}

// Sends one short document on an open session, then quits; "" when it worked.
QString SendAndQuit(TSMTP *smtp, ScriptServer *server)
{
    ControlEvents rec(smtp, true);
    Send(smtp);
    if (!WaitFor([&] { return rec.Saw("doc 5") && !smtp->Busy(); }, kRestMs))
        return QStringLiteral("the next document did not end");
    if (!rec.errors.isEmpty())
        return QStringLiteral("the next document failed: %1").arg(rec.events.join(QStringLiteral(", ")));
    if (!server->Data().endsWith(kSmallText.toUtf8()))
        return QStringLiteral("the next document did not arrive");
    smtp->Quit();
    if (!WaitFor([&] { return smtp->State() == 6; }, kRestMs))
        return QStringLiteral("Quit did not end the session");
    return QString();
}

// Retrieves one message on an open session, then quits; "" when it worked.
QString RetrieveAndQuit(TPOP *pop, short number)
{
    ControlEvents rec(pop, true);
    pop->RetrieveMessage(number);
    if (!WaitFor([&] { return rec.Saw("doc 5") && !pop->Busy(); }, kRestMs))
        return QStringLiteral("the next message did not end");
    if (!rec.errors.isEmpty() || rec.body != NextPopBody())
        return QStringLiteral("the next message failed: %1; body \"%2\"")
            .arg(rec.events.join(QStringLiteral(", ")), Shown(rec.body));
    pop->Quit();
    if (!WaitFor([&] { return pop->State() == 6; }, kRestMs))
        return QStringLiteral("Quit did not end the session");
    return QString();
}

void AddRows(const QList<Step> &steps)
{
    QTest::addColumn<int>("stepIndex");
    QTest::addColumn<int>("faultIndex");
    for (int s = 0; s < steps.size(); ++s)
        for (int f = 0; f < Faults().size(); ++f)
            QTest::addRow("%s / %s", qPrintable(steps[s].name), qPrintable(Faults()[f].name)) << s << f;
}
} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void smtp_data() { AddRows(SmtpSteps()); }
    void smtp();
    void pop_data() { AddRows(PopSteps()); }
    void pop();
    void tableIsTheOneInTheDoc();

private:
    QTemporaryFile m_large; // a body that cannot all sit in socket buffers
    QList<FaultRow> m_smtpRows;
    QList<FaultRow> m_popRows;
};

void TestFaults::initTestCase()
{
    QVERIFY(m_large.open());
    const QByteArray line = QByteArray(70, 'z') + "\r\n";
    QByteArray block;
    for (int i = 0; i < (1 << 20) / line.size(); ++i)
        block += line;
    for (int i = 0; i < 32; ++i)
        m_large.write(block);
    m_large.flush();
}

void TestFaults::smtp()
{
    QFETCH(int, stepIndex);
    QFETCH(int, faultIndex);
    const Step &step = SmtpSteps()[stepIndex];
    const Fault &fault = Faults()[faultIndex];
    const Outcome expected = Expected(step, fault);
    const QStringList script = ScriptFor(step, fault, true);

    ScriptServer server(script);
    TSMTP smtp;
    smtp.SetTimeout(1);
    ControlEvents rec(&smtp, true);
    smtp.SetRemoteHost(server.Host());
    QStringList problems;
    qsizetype mark = 0;
    bool document = false;
    try {
        smtp.Connect();
        if (step.drive != Drive::Connect) {
            if (!WaitFor([&] { return smtp.State() == 4; }, kRestMs)) {
                problems << QStringLiteral("the session before the step did not open");
            } else {
                mark = rec.events.size();
                if (step.drive == Drive::Quit) {
                    smtp.Quit();
                } else {
                    document = true;
                    Send(&smtp, step.drive == Drive::SendLarge ? m_large.fileName() : QString());
                }
            }
        }
    } catch (const std::exception &error) {
        problems << QStringLiteral("exception: %1").arg(QString::fromUtf8(error.what()));
    }
    const bool rested = WaitFor(
        [&] {
            const short state = smtp.State();
            if (step.drive == Drive::Quit)
                return state == 6;
            if (smtp.Busy() || (document && !rec.Saw("doc 5")))
                return false;
            return state == 6 || (state == 4 && server.Finished());
        },
        kRestMs);
    Pump(50); // a late or doubled event would show now
    const short state = smtp.State();
    problems += Judge(step, expected, rec, mark, document, rested, state, smtp.Busy());
    if (!server.Failure().isEmpty())
        problems << server.Failure();
    const QStringList sent = server.ClientLines().mid(ClientCommands(step.prefix));
    const QString client = ClientText(rec.events.mid(mark), sent);

    // Still usable: the same session takes the next document, or a new one opens.
    QString usable;
    QString failure;
    try {
        if (state == 4) {
            usable = QStringLiteral("next document sent");
            server.Append(NextSmtpDocument());
            failure = SendAndQuit(&smtp, &server);
        } else if (state == 6) {
            usable = QStringLiteral("connects again and sends");
            ScriptServer good(GoodSmtpSession());
            smtp.SetRemoteHost(good.Host());
            smtp.Connect();
            failure = WaitFor([&] { return smtp.State() == 4; }, kRestMs)
                          ? SendAndQuit(&smtp, &good)
                          : QStringLiteral("could not connect again");
        }
    } catch (const std::exception &error) {
        failure = QStringLiteral("exception: %1").arg(QString::fromUtf8(error.what()));
    }
    if (!failure.isEmpty())
        problems << QStringLiteral("not usable: %1").arg(failure);

    m_smtpRows << FaultRow{step.name,
                           fault.name,
                           Describe(step.context == FaultContext::SmtpBody ? fault.smtpBody : fault.smtpReply),
                           client,
                           QStringLiteral("state %1; %2").arg(state).arg(usable),
                           problems.isEmpty() ? QStringLiteral("yes") : QStringLiteral("no: ") + problems.join("; ")};
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; ")) + " | events: " + rec.events.join(", ")));
}

void TestFaults::pop()
{
    QFETCH(int, stepIndex);
    QFETCH(int, faultIndex);
    const Step &step = PopSteps()[stepIndex];
    const Fault &fault = Faults()[faultIndex];
    const Outcome expected = Expected(step, fault);
    const QStringList script = ScriptFor(step, fault, false);

    ScriptServer server(script);
    TPOP pop;
    pop.SetTimeout(1);
    pop.SetUserId("alice");
    pop.SetPassword("alice-pw");
    QObject login;
    connect(&pop, &TPOP::OnProtocolStateChanged, &login, [&pop](short s) {
        if (s == 1)
            pop.Authenticate(std::nullopt, std::nullopt);
    });
    ControlEvents rec(&pop, true);
    pop.SetRemoteHost(server.Host());
    QStringList problems;
    qsizetype mark = 0;
    bool document = false;
    try {
        pop.Connect();
        if (step.drive != Drive::Connect) {
            if (!WaitFor([&] { return rec.Saw("count 2"); }, kRestMs)) {
                problems << QStringLiteral("the session before the step did not open");
            } else {
                mark = rec.events.size();
                if (step.drive == Drive::Quit) {
                    pop.Quit();
                } else {
                    document = true;
                    pop.RetrieveMessage(1);
                }
            }
        }
    } catch (const std::exception &error) {
        problems << QStringLiteral("exception: %1").arg(QString::fromUtf8(error.what()));
    }
    const bool rested = WaitFor(
        [&] {
            const short state = pop.State();
            if (step.drive == Drive::Quit)
                return state == 6;
            if (pop.Busy() || (document && !rec.Saw("doc 5")))
                return false;
            return state == 6 || (state == 4 && server.Finished());
        },
        kRestMs);
    Pump(50);
    const short state = pop.State();
    problems += Judge(step, expected, rec, mark, document, rested, state, pop.Busy());
    if (!server.Failure().isEmpty())
        problems << server.Failure();
    if (step.context == FaultContext::PopBody) {
        // What came before the fault stays delivered; text after it arrives
        // whole, its lines ended as the control hands them on.
        const QString want = Decoded(PopBodyBeforeFault() + fault.bodyText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (rec.body != want)
            problems << QStringLiteral("body \"%1\" (%2 characters), expected \"%3\" (%4)")
                            .arg(Shown(rec.body)).arg(rec.body.size()).arg(Shown(want)).arg(want.size());
    }
    const QStringList sent = server.ClientLines().mid(ClientCommands(step.prefix));
    const QString client = ClientText(rec.events.mid(mark), sent);

    QString usable;
    QString failure;
    try {
        if (state == 4) {
            usable = QStringLiteral("next message retrieved");
            server.Append(NextPopMessage());
            failure = RetrieveAndQuit(&pop, 2);
        } else if (state == 6) {
            usable = QStringLiteral("connects again and retrieves");
            ScriptServer good(GoodPopSession());
            pop.SetRemoteHost(good.Host());
            ControlEvents again(&pop, true);
            pop.Connect();
            failure = WaitFor([&] { return again.Saw("count 2"); }, kRestMs)
                          ? RetrieveAndQuit(&pop, 1)
                          : QStringLiteral("could not connect and log in again");
        }
    } catch (const std::exception &error) {
        failure = QStringLiteral("exception: %1").arg(QString::fromUtf8(error.what()));
    }
    if (!failure.isEmpty())
        problems << QStringLiteral("not usable: %1").arg(failure);

    m_popRows << FaultRow{step.name,
                          fault.name,
                          Describe(step.context == FaultContext::PopBody ? fault.popBody : fault.popReply),
                          client,
                          QStringLiteral("state %1; %2").arg(state).arg(usable),
                          problems.isEmpty() ? QStringLiteral("yes") : QStringLiteral("no: ") + problems.join("; ")};
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; ")) + " | events: " + rec.events.join(", ")));
}

void TestFaults::tableIsTheOneInTheDoc()
{
    const qsizetype cells = (SmtpSteps().size() + PopSteps().size()) * Faults().size();
    if (m_smtpRows.size() + m_popRows.size() != cells)
        QSKIP("only part of the matrix ran");
    const QString section = FaultSection(m_smtpRows, m_popRows);
    QFile doc(QStringLiteral(ORV_RELIABILITY_DOC));
    QVERIFY(doc.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(doc.readAll());
    doc.close();
    if (qEnvironmentVariableIsSet("ORV_WRITE_FAULT_TABLE")) {
        QVERIFY(doc.open(QIODevice::WriteOnly | QIODevice::Truncate));
        doc.write(WithSection(text, kHeading, section).toUtf8());
        return;
    }
    const QStringList have = SectionOf(text, kHeading).split(QLatin1Char('\n'));
    const QStringList want = section.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < qMax(have.size(), want.size()); ++i)
        QVERIFY2(have.value(i) == want.value(i),
                 qPrintable(QStringLiteral("docs/RELIABILITY.md's \"Fault matrix\" differs from this run at its line "
                                           "%1:\n  doc:  %2\n  seen: %3\nRun scripts/faulttable.sh to rewrite it.")
                                .arg(i + 1)
                                .arg(have.value(i), want.value(i))));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
