// Whole roads through the real Postfix and Dovecot that the suite starts:
// what TSMTP sends must come back exactly from the Maildir file and through
// TPOP, after line-end normalisation and after undoing the transfer
// encoding the control chose.
#include "docobjects.h"
#include "testsupport.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QUuid>

namespace {
// CRLF, CR and LF all end a line; a text that does not end with one gets one
// (the control completes the last line, as SMTP requires).
QByteArray Normalised(QByteArray text)
{
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    return text;
}

QByteArray QpDecoded(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (text.mid(i + 1, 2) == "\r\n") {
            i += 2;
        } else if (text.mid(i + 1, 1) == "\n") {
            i += 1;
        } else {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        }
    }
    return out;
}

struct Message {
    QByteArray headers; // LF line ends
    QByteArray body;    // undecoded
    QByteArray Header(const QByteArray &name) const
    {
        for (const QByteArray &line : headers.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
    QByteArray DecodedBody() const
    {
        const bool qp = Header("Content-Transfer-Encoding").toLower() == "quoted-printable";
        return Normalised(qp ? QpDecoded(body) : body);
    }
};

Message Split(const QByteArray &raw)
{
    QByteArray text = raw;
    text.replace("\r\n", "\n");
    Message m;
    const qsizetype blank = text.indexOf("\n\n");
    m.headers = blank < 0 ? text : text.left(blank + 1);
    m.body = blank < 0 ? QByteArray() : raw.mid(raw.indexOf(raw.contains("\r\n\r\n") ? "\r\n\r\n" : "\n\n")
                                                + (raw.contains("\r\n\r\n") ? 4 : 2));
    return m;
}
} // namespace

class TestEngineRoads : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void tortureSetRoundTrips_data();
    void tortureSetRoundTrips();
    void fiftyMegabyteFileRoundTrips();
    void storedMessageWithoutFinalLineEndReadsWhole();
    void wrongPasswordIsRefusedInAuthorization();
    void unknownMessageNumberIsAnError();

private:
    bool Send(const QByteArray &subject, const QString &to, const QByteArray &text, const QString &fileName = QString());
    QString FindInMaildir(const QString &user, const QByteArray &subject, int timeoutMs);
    bool Retrieve(const QString &user, const QByteArray &subject, Message *message, QStringList *headerNames);

    TestServers m_servers;
    QString m_catchall;
};

void TestEngineRoads::initTestCase()
{
    m_servers = LoadTestServers();
    if (!m_servers.ok)
        QSKIP("the mail servers are not running (ORV_SERVERS_ENV)");
    m_catchall = QStringLiteral("catchall");
}

bool TestEngineRoads::Send(const QByteArray &subject, const QString &to, const QByteArray &text, const QString &fileName)
{
    TSMTP smtp;
    smtp.SetTimeout(30);
    QList<short> errors;
    QString description;
    bool ended = false;
    connect(&smtp, &TSMTP::OnError, this, [&](short n, const QString &d, bool &) {
        errors << n;
        description = d;
    });
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) { ended |= doc->State() == 5; });
    smtp.SetRemoteHost(m_servers.value("SMTP_HOST") + ':' + m_servers.value("SMTP_PORT"));
    smtp.Connect();
    if (!QTest::qWaitFor([&] { return smtp.State() == 4 || smtp.State() == 6; }, 10000) || smtp.State() != 4) {
        qWarning() << "connect failed" << errors << description;
        return false;
    }
    TDocHeaders &h = smtp.DocInput()->Headers();
    h.Clear();
    h.Add("To", to);
    h.Add("From", "alice@orvanta.test");
    h.Add("CC", "");
    h.Add("Subject", QString::fromLatin1(subject));
    h.Add("Message-Id", "Orvanta Mail_12/8/26 7:00:00 PM_alice@orvanta.test");
    h.Add("Content-Type", "TEXT/PLAIN charset=US-ASCII");
    if (fileName.isNull())
        smtp.SendDoc(h, QString::fromUtf8(text), QString());
    else
        smtp.SendDoc(h, std::nullopt, fileName);
    (void)QTest::qWaitFor([&] { return ended; }, 300000);
    smtp.Quit();
    (void)QTest::qWaitFor([&] { return smtp.State() == 6; }, 10000);
    if (!errors.isEmpty())
        qWarning() << "send failed" << errors << description;
    return ended && errors.isEmpty();
}

QString TestEngineRoads::FindInMaildir(const QString &user, const QByteArray &subject, int timeoutMs)
{
    return FindMaildirFile(m_servers, user, "Subject: " + subject + '\n', timeoutMs);
}

bool TestEngineRoads::Retrieve(const QString &user, const QByteArray &subject, Message *message, QStringList *headerNames)
{
    TPOP pop;
    pop.SetMaxMessageChars(0); // the whole text is compared, not shown
    pop.SetTimeout(30);
    qint32 count = -1;
    QList<short> errors;
    bool ended = false;
    QStringList names;
    QByteArray headers;
    QString body;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate(pop.UserId(), pop.Password());
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32 n) { count = n; });
    connect(&pop, &TPOP::OnError, this, [&](short n, const QString &, bool &) { errors << n; });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 2)
            for (qint32 i = 1; i <= doc->Headers().Count(); ++i) {
                const TDocHeader &item = doc->Headers().Item(i);
                names << item.Name();
                headers += item.Name().toUtf8() + ": " + item.Value().toUtf8() + '\n';
            }
        if (doc->State() == 3)
            body += doc->GetData();
        ended |= doc->State() == 5;
    });
    pop.SetRemoteHost(m_servers.value("POP_HOST") + ':' + m_servers.value("POP_PORT"));
    pop.SetUserId(user);
    pop.SetPassword(user + "-pw");
    pop.Connect();
    if (!QTest::qWaitFor([&] { return count >= 0 || !errors.isEmpty(); }, 10000) || count <= 0)
        return false;
    // Newest last: walk back from the end to find our message.
    for (qint32 n = count; n >= 1 && n > count - 20; --n) {
        ended = false;
        names.clear();
        headers.clear();
        body.clear();
        pop.RetrieveMessage(short(n));
        if (!QTest::qWaitFor([&] { return ended; }, 300000) || !errors.isEmpty())
            return false;
        if (headers.contains("Subject: " + subject + '\n')) {
            message->headers = headers;
            message->body = body.toUtf8();
            *headerNames = names;
            pop.Quit();
            (void)QTest::qWaitFor([&] { return pop.State() == 6; }, 10000);
            return true;
        }
    }
    return false;
}

void TestEngineRoads::tortureSetRoundTrips_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("encoding"); // expected Content-Transfer-Encoding, empty for none
    QTest::newRow("lines that are only a dot") << QByteArray(".\r\nmiddle\r\n.\r\n.") << QByteArray();
    QTest::newRow("lines starting with two dots") << QByteArray("..\r\n..x\r\n...y\r\n") << QByteArray();
    QTest::newRow("line of 5000 characters") << (QByteArray("start ") + QByteArray(5000, 'k') + "\r\nafter\r\n")
                                             << QByteArray("quoted-printable");
    QTest::newRow("empty body") << QByteArray() << QByteArray();
    QTest::newRow("CR and LF alone") << QByteArray("a\rb\nc\r\nd") << QByteArray();
    QTest::newRow("UTF-8 text") << QString::fromUtf8("Grüße aus Köln\r\n東京 ☃ ünïcödé\r\n").toUtf8() << QByteArray("8bit");
    QTest::newRow("UTF-8 in a 5000 character line")
        << (QString::fromUtf8("ä").repeated(2500).toUtf8() + "\r\n") << QByteArray("quoted-printable");
    QTest::newRow("trailing blanks and tabs") << QByteArray("blank \r\ntab\t\r\n") << QByteArray();
}

void TestEngineRoads::tortureSetRoundTrips()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, encoding);
    const QByteArray subject = "road " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QString to = QStringLiteral("eng-torture@orvanta.test"); // lands in the catch-all box
    QVERIFY(Send(subject, to, text));

    const QString path = FindInMaildir(m_catchall, subject, 15000);
    QVERIFY2(!path.isEmpty(), "the message never reached the Maildir");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const Message stored = Split(file.readAll());
    QCOMPARE(stored.Header("Content-Transfer-Encoding"), encoding);
    if (encoding.isEmpty())
        QCOMPARE(stored.Header("Content-Type"), QByteArray("TEXT/PLAIN charset=US-ASCII"));
    else
        QVERIFY(stored.Header("Content-Type").contains("charset="
                                                       + QByteArray(text.contains('\xc3') ? "UTF-8" : "US-ASCII")));
    QVERIFY(!stored.Header("Date").isEmpty());
    QCOMPARE(stored.DecodedBody(), Normalised(text));

    Message popped;
    QStringList names;
    QVERIFY2(Retrieve(m_catchall, subject, &popped, &names), "the message could not be read back over POP");
    QCOMPARE(popped.Header("Content-Transfer-Encoding"), encoding);
    QCOMPARE(popped.DecodedBody(), Normalised(text));
    QVERIFY(names.contains("Received") && names.contains("Subject"));
}

void TestEngineRoads::fiftyMegabyteFileRoundTrips()
{
    // A file document that must stream from disk: dot lines, long lines and
    // chunk-boundary cases spread through 50 MB.
    QTemporaryFile source;
    QVERIFY(source.open());
    QCryptographicHash sent(QCryptographicHash::Sha256);
    qint64 written = 0;
    int i = 0;
    while (written < 50 * 1000 * 1000) {
        QByteArray line = "line " + QByteArray::number(i) + " " + QByteArray(i % 97, 'a' + i % 26);
        if (i % 13 == 0)
            line = ".";
        else if (i % 17 == 0)
            line = ".." + line;
        line += "\n";
        source.write(line);
        sent.addData(line);
        written += line.size();
        ++i;
    }
    source.flush();
    const QByteArray expected = sent.result();

    const QByteArray subject = "big " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QVERIFY(Send(subject, QStringLiteral("eng-big@orvanta.test"), QByteArray(), source.fileName()));
    const QString path = FindInMaildir(m_catchall, subject, 60000);
    QVERIFY(!path.isEmpty());
    QFile stored(path);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    const Message m = Split(stored.readAll());
    QCOMPARE(QCryptographicHash::hash(m.DecodedBody(), QCryptographicHash::Sha256).toHex(), expected.toHex());

    Message popped;
    QStringList names;
    QVERIFY(Retrieve(m_catchall, subject, &popped, &names));
    QCOMPARE(QCryptographicHash::hash(popped.DecodedBody(), QCryptographicHash::Sha256).toHex(), expected.toHex());
}

void TestEngineRoads::storedMessageWithoutFinalLineEndReadsWhole()
{
    // A message file whose last line has no line end (put there by another
    // program): the server completes the line before the terminator, and
    // nothing of the text may be lost.
    const QByteArray subject = "seeded " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("From: alice@orvanta.test\nSubject: " + subject + "\n\nfirst\n.\nno final line end");
    file.flush();
    const QString dir = QFileInfo(qEnvironmentVariable("ORV_SERVERS_ENV")).absolutePath();
    const QString script = QStringLiteral(ORV_SOURCE_DIR "/scripts/testservers.sh");
    QCOMPARE(QProcess::execute(script, {"seed", dir, m_catchall, file.fileName()}), 0);
    Message popped;
    QStringList names;
    QVERIFY(Retrieve(m_catchall, subject, &popped, &names));
    QCOMPARE(popped.body, QByteArray("first\n.\nno final line end\n"));
}

void TestEngineRoads::wrongPasswordIsRefusedInAuthorization()
{
    TPOP pop;
    pop.SetMaxMessageChars(0); // the whole text is compared, not shown
    pop.SetTimeout(10);
    short protocolAtError = -1;
    QList<short> errors;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate("bob", "not-the-password");
    });
    connect(&pop, &TPOP::OnError, this, [&](short n, const QString &, bool &) {
        errors << n;
        protocolAtError = pop.ProtocolState();
    });
    pop.SetRemoteHost(m_servers.value("POP_HOST") + ':' + m_servers.value("POP_PORT"));
    pop.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(pop.State(), short(6), 15000);
    QCOMPARE(errors, QList<short>{1020});
    QCOMPARE(protocolAtError, short(1));
}

void TestEngineRoads::unknownMessageNumberIsAnError()
{
    TPOP pop;
    pop.SetMaxMessageChars(0); // the whole text is compared, not shown
    pop.SetTimeout(10);
    QList<short> errors;
    bool ended = false;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate("carol", "carol-pw");
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32 n) { pop.RetrieveMessage(short(n + 1)); });
    connect(&pop, &TPOP::OnError, this, [&](short n, const QString &, bool &) { errors << n; });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) { ended |= doc->State() == 5; });
    pop.SetRemoteHost(m_servers.value("POP_HOST") + ':' + m_servers.value("POP_PORT"));
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(ended, 15000);
    QCOMPARE(errors, QList<short>{1022});
    QCOMPARE(pop.State(), short(4));
    QCOMPARE(pop.ProtocolState(), short(2));
    pop.Quit();
    QTRY_COMPARE(pop.State(), short(6));
}

QTEST_MAIN(TestEngineRoads)
#include "tst_engineroads.moc"
