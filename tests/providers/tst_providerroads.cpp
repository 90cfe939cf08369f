// Mail providers' roads through the real Postfix and Dovecot the suite
// starts: sign-in with each mechanism on the submission ports, a refused
// password and then the right one, sign-in required but no password, a
// self-signed certificate put to the user, and an idle session the server
// closes.
#include "controlevents.h"
#include "docobjects.h"
#include "net/userstore.h"
#include "testsupport.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QFile>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

namespace {
// Answers certificate questions as a test tells it, and keeps them.
struct Decider : CertificateDecider {
    bool answer = false;
    QList<CertificateQuestion> asked;
    bool TrustCertificate(const CertificateQuestion &question) override
    {
        asked << question;
        return answer;
    }
};

QByteArray NewSubject(const char *what)
{
    return what + (' ' + QUuid::createUuid().toByteArray(QUuid::WithoutBraces));
}

// Connects, waiting for state 4 or 6.
bool Open(TInternetControl &control, const QString &host)
{
    control.SetTimeout(20);
    control.SetRemoteHost(host);
    control.Connect();
    return QTest::qWaitFor([&] { return control.State() == 4 || control.State() == 6; }, 20000)
           && control.State() == 4;
}

// One document to the catch-all mailbox; waits until it has ended, and
// says whether it did.
[[nodiscard]] bool SendOne(TSMTP &smtp, const QByteArray &subject)
{
    TDocHeaders &h = smtp.DocInput()->Headers();
    h.Clear();
    h.Add("To", "provider-road@orvanta.test");
    h.Add("From", "alice@orvanta.test");
    h.Add("Subject", QString::fromLatin1(subject));
    smtp.SendDoc(h, QStringLiteral("signed in\r\n"), QString());
    return QTest::qWaitFor([&] { return !smtp.Busy(); }, 20000);
}
} // namespace

class TestProviderRoads : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void signInDelivers_data();
    void signInDelivers();
    void wrongPasswordThenRight();
    void signInRequiredWithoutPassword();
    void selfSignedCertificate_data();
    void selfSignedCertificate();
    void idleSessionClosedByServer();

private:
    bool Delivered(const QByteArray &subject, int waitMs = 10000) const
    {
        return !FindMaildirFile(m_servers, m_servers.value("CATCHALL_USER"), "Subject: " + subject, waitMs)
                    .isEmpty();
    }
    QString At(const char *host, const char *port) const
    {
        return m_servers.value(host) + ':' + m_servers.value(port);
    }
    TestServers m_servers;
    std::unique_ptr<QTemporaryDir> m_config;
};

void TestProviderRoads::initTestCase()
{
    m_servers = LoadTestServers();
    if (!m_servers.ok)
        QSKIP("the mail servers are not running (ORV_SERVERS_ENV)");
    QVERIFY2(!m_servers.value("SUBMIT_PORT").isEmpty(), "the test servers offer no submission service");
    // Only this process trusts the suite's authority (not the self-signed pair).
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QVERIFY(config.addCaCertificates(m_servers.value("TLS_CA_FILE")));
    QSslConfiguration::setDefaultConfiguration(config);
}

void TestProviderRoads::init()
{
    // What one case trusted or remembered is not the next one's.
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
}

void TestProviderRoads::signInDelivers_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::newRow("SCRAM-SHA-256") << "SUBMIT_HOST" << "SUBMIT_SCRAM_SHA_256_PORT" << "alice";
    QTest::newRow("SCRAM-SHA-1") << "SUBMIT_HOST" << "SUBMIT_SCRAM_SHA_1_PORT" << "alice";
    QTest::newRow("PLAIN") << "SUBMIT_HOST" << "SUBMIT_PLAIN_PORT" << "alice";
    QTest::newRow("LOGIN") << "SUBMIT_HOST" << "SUBMIT_LOGIN_PORT" << "alice";
    QTest::newRow("all offered, address as user name") << "SUBMIT_HOST" << "SUBMIT_PORT" << "alice@orvanta.test";
    QTest::newRow("TLS from the first byte on 465") << "SUBMITS_HOST" << "SUBMITS_PORT" << "alice";
    QTest::newRow("in clear to loopback") << "SMTP_HOST" << "SUBMIT_CLEAR_PORT" << "alice";
}

void TestProviderRoads::signInDelivers()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, user);
    TSMTP smtp;
    ControlEvents watch(&smtp);
    QVERIFY2(Open(smtp, m_servers.value(host) + ':' + m_servers.value(port)), qPrintable(watch.description));
    smtp.SetUserId(user);
    smtp.SetPassword("alice-pw");
    const QByteArray first = NewSubject("signed in"), second = NewSubject("still signed in");
    QVERIFY(SendOne(smtp, first));
    QVERIFY(SendOne(smtp, second)); // one sign-in per session: a second AUTH would be refused (503)
    QVERIFY2(watch.errors.isEmpty(), qPrintable(watch.description));
    QVERIFY(Delivered(first) && Delivered(second));
    // A server that offered STARTTLS is remembered, so that a session
    // without the offer later is refused.
    if (port != "SUBMITS_PORT" && port != "SUBMIT_CLEAR_PORT")
        QVERIFY(UserStore::OfferedEncryption(UserStore::ServerKey(m_servers.value(host), m_servers.port(port))));
}

void TestProviderRoads::wrongPasswordThenRight()
{
    TSMTP smtp;
    ControlEvents watch(&smtp);
    QVERIFY(Open(smtp, At("SUBMIT_HOST", "SUBMIT_PORT")));
    smtp.SetUserId("alice");
    smtp.SetPassword("not-the-password");
    const QByteArray refused = NewSubject("refused"), accepted = NewSubject("accepted");
    QVERIFY(SendOne(smtp, refused));
    QCOMPARE(watch.errors, QList<short>{1020});
    QVERIFY2(watch.description.contains("5.7.8"), qPrintable(watch.description)); // the server's own words
    QCOMPARE(smtp.State(), short(4));
    smtp.SetPassword("alice-pw");
    QVERIFY(SendOne(smtp, accepted));
    QCOMPARE(watch.errors, QList<short>{1020});
    QVERIFY(Delivered(accepted));
    // The server refused the first transaction before taking its text, so
    // nothing of it was queued to turn up after the later one, which is in.
    QVERIFY(!Delivered(refused, 0));
}

void TestProviderRoads::signInRequiredWithoutPassword()
{
    TSMTP smtp;
    ControlEvents watch(&smtp);
    QVERIFY(Open(smtp, At("SUBMIT_HOST", "SUBMIT_PORT")));
    smtp.SetUserId("alice");
    QVERIFY(SendOne(smtp, NewSubject("no password")));
    QCOMPARE(watch.errors, QList<short>{1024});
    QVERIFY2(watch.description.contains("type the password on the Connect To page"), qPrintable(watch.description));
    smtp.SetPassword("alice-pw"); // and the next try goes through
    const QByteArray subject = NewSubject("password typed");
    QVERIFY(SendOne(smtp, subject));
    QCOMPARE(watch.errors.size(), 1);
    QVERIFY(Delivered(subject));
}

void TestProviderRoads::selfSignedCertificate_data()
{
    QTest::addColumn<bool>("pop");
    QTest::addColumn<bool>("pinnedOther"); // another certificate was trusted for the server before
    QTest::addColumn<bool>("answer");
    QTest::newRow("SMTP: trusted") << false << false << true;
    QTest::newRow("SMTP: cancelled") << false << false << false;
    QTest::newRow("SMTP: changed, refused") << false << true << false;
    QTest::newRow("SMTP: changed, trusted anew") << false << true << true;
    QTest::newRow("POP3: trusted") << true << false << true;
}

void TestProviderRoads::selfSignedCertificate()
{
    QFETCH(bool, pop);
    QFETCH(bool, pinnedOther);
    QFETCH(bool, answer);
    const QString host = m_servers.value("SELFSIGNED_HOST");
    const quint16 port = m_servers.port(pop ? "SELFSIGNED_POP_PORT" : "SELFSIGNED_SMTP_PORT");
    const QString server = UserStore::ServerKey(host, port);
    const QString other = QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:"
                                         "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF");
    if (pinnedOther)
        QVERIFY(UserStore::TrustCertificate(server, other));
    Decider decider;
    decider.answer = answer;
    for (int session = 0; session < 2; ++session) {
        TSMTP smtp;
        TPOP popControl;
        TInternetControl *control = pop ? static_cast<TInternetControl *>(&popControl) : &smtp;
        control->SetCertificateDecider(&decider);
        ControlEvents watch(control);
        const bool opened = Open(*control, QStringLiteral("%1:%2").arg(host).arg(port));
        QCOMPARE(opened, answer);
        QCOMPARE(decider.asked.size(), 1); // asked once: the second session knows the answer
        const CertificateQuestion &asked = decider.asked.first();
        QCOMPARE(asked.server, server);
        QCOMPARE(asked.changed, pinnedOther);
        QVERIFY(asked.subject.contains("Orvanta self-signed test"));
        if (!answer) {
            QCOMPARE(watch.errors, QList<short>{1031});
            QVERIFY2(watch.description.contains(pinnedOther ? "changed" : "self-signed"), qPrintable(watch.description));
            QCOMPARE(UserStore::TrustedFingerprint(server).isEmpty(), !pinnedOther); // nothing pinned by a no
            return;
        }
        QCOMPARE(UserStore::TrustedFingerprint(server), asked.fingerprint);
        control->Quit();
        QTRY_COMPARE(control->State(), short(6));
    }
}

void TestProviderRoads::idleSessionClosedByServer()
{
    // This server closes a session after 2 s of silence, as Postfix does
    // after 5 minutes by default.
    TSMTP smtp;
    ControlEvents watch(&smtp);
    QVERIFY(Open(smtp, At("SMTP_HOST", "IDLE_SMTP_PORT")));
    QTRY_VERIFY_WITH_TIMEOUT(watch.Saw("state 6"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(smtp.State(), short(4), 10000); // opened again
    QVERIFY2(watch.errors.isEmpty(), qPrintable(watch.description));
    const QByteArray subject = NewSubject("after an idle close");
    QVERIFY(SendOne(smtp, subject));
    QVERIFY2(watch.errors.isEmpty(), qPrintable(watch.description));
    QVERIFY(Delivered(subject));
}

QTEST_MAIN(TestProviderRoads)
#include "tst_providerroads.moc"
