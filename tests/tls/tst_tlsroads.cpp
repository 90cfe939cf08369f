// Encrypted roads through the real Postfix and Dovecot that the suite
// starts: STARTTLS, STLS and TLS from the first byte deliver and read as in
// clear; an expired certificate, one for another host and one from an
// unknown authority each end the session before anything is said in clear.
#include "controlevents.h"
#include "docobjects.h"
#include "testsupport.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTest>
#include <QUuid>

namespace {
// Lines a server logged after `from` bytes of its log that contain `mark`,
// waiting up to timeoutMs for one that also contains `end`.
QStringList LogLines(const QString &path, qint64 from, const QString &mark, const QString &end, int timeoutMs = 10000)
{
    QStringList lines;
    (void)QTest::qWaitFor([&] {
        lines.clear();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
            return false;
        bool ended = false;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.contains(mark)) {
                lines << line;
                ended |= line.contains(end);
            }
        }
        return ended;
    }, timeoutMs);
    return lines;
}

qint64 LogSize(const QString &path)
{
    return QFile(path).size();
}
} // namespace

class TestTlsRoads : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void smtpSendsEncrypted_data();
    void smtpSendsEncrypted();
    void popReadsEncrypted_data();
    void popReadsEncrypted();
    void badCertificatesEndTheSession_data();
    void badCertificatesEndTheSession();

private:
    QString Log(const char *name) const { return m_servers.value("LOG_DIR") + '/' + QLatin1String(name); }
    TestServers m_servers;
};

void TestTlsRoads::initTestCase()
{
    m_servers = LoadTestServers();
    if (!m_servers.ok)
        QSKIP("the mail servers are not running (ORV_SERVERS_ENV)");
    QVERIFY2(!m_servers.value("TLS_CA_FILE").isEmpty(), "the test servers offer no TLS services");
    // Only this test process trusts the suite's authority; the program and
    // the machine keep their own trust store.
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QVERIFY(config.addCaCertificates(m_servers.value("TLS_CA_FILE")));
    QSslConfiguration::setDefaultConfiguration(config);
}

void TestTlsRoads::smtpSendsEncrypted_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("service"); // how the Postfix service logs
    QTest::newRow("STARTTLS") << "TLS_SMTP_PORT" << "tls-starttls";
    QTest::newRow("TLS from the first byte on 465") << "TLS_SMTPS_PORT" << "tls-implicit";
}

void TestTlsRoads::smtpSendsEncrypted()
{
    QFETCH(QString, port);
    QFETCH(QString, service);
    const qint64 logFrom = LogSize(Log("postfix.log"));
    const QByteArray subject = "tls " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    TSMTP smtp;
    smtp.SetTimeout(30);
    ControlEvents watch(&smtp);
    bool ended = false;
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) { ended |= doc->State() == 5; });
    smtp.SetRemoteHost(m_servers.value("TLS_HOST") + ':' + m_servers.value(port));
    smtp.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(smtp.State() == 4 || smtp.State() == 6, 15000);
    QVERIFY2(smtp.State() == 4, qPrintable(watch.description));
    QCOMPARE(watch.events, (QStringList{"state 1", "state 2", "state 3", "state 4"}));
    TDocHeaders &h = smtp.DocInput()->Headers();
    h.Clear();
    h.Add("To", "tls-road@orvanta.test");
    h.Add("From", "alice@orvanta.test");
    h.Add("Subject", QString::fromLatin1(subject));
    smtp.SendDoc(h, QStringLiteral("sent encrypted\r\n"), QString());
    QTRY_VERIFY_WITH_TIMEOUT(ended, 15000);
    smtp.Quit();
    QTRY_COMPARE_WITH_TIMEOUT(smtp.State(), short(6), 10000);
    QVERIFY2(watch.errors.isEmpty(), qPrintable(watch.description));

    const QString path = FindMaildirFile(m_servers, m_servers.value("CATCHALL_USER"), "Subject: " + subject);
    QVERIFY2(!path.isEmpty(), "the message never reached the Maildir");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const ParsedMessage stored = ParseMessage(file.readAll());
    QVERIFY2(stored.header("Received").contains("using TLS"), stored.header("Received").constData());
    QCOMPARE(stored.body, QByteArray("sent encrypted\n"));
    // Over STARTTLS the session said EHLO again after the upgrade.
    const QStringList log = LogLines(Log("postfix.log"), logFrom, '/' + service + "/smtpd[", "disconnect from");
    const QString summary = log.filter("disconnect from").value(0);
    QVERIFY2(summary.contains(service == "tls-starttls" ? " ehlo=2 starttls=1 " : " ehlo=1 "), qPrintable(summary));
}

void TestTlsRoads::popReadsEncrypted_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("STLS") << "TLS_POP_PORT";
    QTest::newRow("TLS from the first byte on 995") << "TLS_POPS_PORT";
}

void TestTlsRoads::popReadsEncrypted()
{
    QFETCH(QString, port);
    const QString user = m_servers.value("USER3");
    const QByteArray subject = "tls " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray body = "read over an encrypted connection\r\n.dot line\r\n";
    QVERIFY(SeedMaildir(m_servers, user, {"From: bob@orvanta.test\r\nSubject: " + subject + "\r\n\r\n" + body}));
    const qint64 logFrom = LogSize(Log("dovecot.log"));

    TPOP pop;
    pop.SetTimeout(30);
    ControlEvents watch(&pop);
    qint32 count = -1;
    bool ended = false;
    QString text;
    QStringList headers;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate(user, m_servers.value("PASS3"));
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32 n) { count = n; });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 2)
            for (qint32 i = 1; i <= doc->Headers().Count(); ++i)
                headers << doc->Headers().Item(i).Value();
        if (doc->State() == 3)
            text += doc->GetData();
        ended |= doc->State() == 5;
    });
    pop.SetRemoteHost(m_servers.value("TLS_HOST") + ':' + m_servers.value(port));
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(count >= 1 || pop.State() == 6, 15000);
    QVERIFY2(count >= 1, qPrintable(watch.description));
    QCOMPARE(watch.events.mid(0, 4), (QStringList{"state 1", "state 2", "state 3", "state 4"}));
    // Newest last: walk back to the message seeded above.
    for (qint32 n = count; n >= 1 && !headers.contains(QString::fromLatin1(subject)); --n) {
        ended = false;
        headers.clear();
        text.clear();
        pop.RetrieveMessage(short(n));
        QTRY_VERIFY_WITH_TIMEOUT(ended, 15000);
    }
    QVERIFY(headers.contains(QString::fromLatin1(subject)));
    QCOMPARE(text.toUtf8(), QByteArray(body).replace("\r\n", "\n"));
    pop.Quit();
    QTRY_COMPARE_WITH_TIMEOUT(pop.State(), short(6), 10000);
    QVERIFY2(watch.errors.isEmpty(), qPrintable(watch.description));
    // The login itself went over TLS.
    const QStringList log = LogLines(Log("dovecot.log"), logFrom, "Login: user=<" + user + '>', "TLS");
    QVERIFY2(!log.isEmpty() && log.last().contains("lip=" + m_servers.value("TLS_HOST") + ",")
                 && log.last().contains(", TLS"),
             qPrintable(log.join('\n')));
}

void TestTlsRoads::badCertificatesEndTheSession_data()
{
    QTest::addColumn<bool>("smtp");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("reason");
    const struct {
        const char *name, *host, *service, *reason;
    } problems[] = {
        {"expired", "TLS_EXPIRED_HOST", "tls-expired", "Certificate has expired"},
        {"another host name", "TLS_WRONGHOST_HOST", "tls-wronghost", "Certificate is for another host name (%1, not %2)"},
        {"unknown authority", "TLS_UNKNOWN_CA_HOST", "tls-unknown", "Certificate issuer is not trusted (unknown authority)"},
    };
    for (bool smtp : {true, false})
        for (const auto &p : problems) {
            QString reason = QString::fromLatin1(p.reason);
            if (reason.contains("%1"))
                reason = reason.arg(m_servers.value("TLS_WRONGHOST_NAME"), m_servers.value(p.host));
            QTest::addRow("%s, %s", smtp ? "SMTP" : "POP3", p.name)
                << smtp << m_servers.value(p.host) << QString::fromLatin1(p.service) << reason;
        }
}

void TestTlsRoads::badCertificatesEndTheSession()
{
    QFETCH(bool, smtp);
    QFETCH(QString, host);
    QFETCH(QString, service);
    QFETCH(QString, reason);
    const QString logPath = Log(smtp ? "postfix.log" : "dovecot.log");
    const qint64 logFrom = LogSize(logPath);
    TSMTP smtpControl;
    TPOP popControl;
    TInternetControl *control = smtp ? static_cast<TInternetControl *>(&smtpControl) : &popControl;
    std::unique_ptr<ControlEvents> watch = smtp ? std::make_unique<ControlEvents>(&smtpControl) : std::make_unique<ControlEvents>(&popControl);
    connect(&popControl, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            popControl.Authenticate(m_servers.value("USER3"), m_servers.value("PASS3"));
    });
    control->SetTimeout(30);
    control->SetRemoteHost(host + ':' + m_servers.value(smtp ? "TLS_SMTP_PORT" : "TLS_POP_PORT"));
    control->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(control->State(), short(6), 15000);
    QCOMPARE(watch->errors, QList<short>{1031});
    QVERIFY2(watch->description.contains(reason), qPrintable(watch->description));
    QVERIFY(!watch->events.contains("state 4"));

    // What the server saw: nothing after STARTTLS, no login attempt.
    if (smtp) {
        const QStringList log = LogLines(logPath, logFrom, '/' + service + "/smtpd[", "disconnect from");
        const QString summary = log.filter("disconnect from").value(0);
        // The command counts of the session: one EHLO, the STARTTLS (failed
        // or not, as the server saw the handshake end), nothing else.
        static const QRegularExpression onlyThose(QStringLiteral(" ehlo=1 starttls=(0/)?1 commands=(1/)?2$"));
        QVERIFY2(summary.contains(onlyThose), qPrintable(log.join('\n')));
    } else {
        const QStringList log = LogLines(logPath, logFrom, "lip=" + host + ',', "Disconnected");
        QVERIFY2(!log.isEmpty(), "the server logged no session");
        for (const QString &line : log)
            QVERIFY2(line.contains("no auth attempts") && !line.contains("user=<" + m_servers.value("USER3")),
                     qPrintable(line));
    }
}

QTEST_MAIN(TestTlsRoads)
#include "tst_tlsroads.moc"
