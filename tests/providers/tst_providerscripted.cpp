// What real providers and networks do that a real test server will not:
// sign-in asked for in clear, an encryption offer removed on the way, a
// session closed while idle. Scripted servers play them.
#include "controlevents.h"
#include "net/userstore.h"
#include "scriptserver.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QNetworkInterface>
#include <QTest>

namespace {
// An address of this machine that is not loopback: traffic to it counts as
// going to another host. Null when the machine has none.
QHostAddress OutsideAddress()
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()
            && !address.isLinkLocal())
            return address;
    return {};
}

QString HostOf(const ScriptServer &server, const QHostAddress &address)
{
    return QStringLiteral("%1:%2").arg(address.toString()).arg(server.Port());
}

void Remember(const QString &host, quint16 port)
{
    QVERIFY(UserStore::NoteEncryptionOffered(UserStore::ServerKey(host, port)));
}

TDocHeaders Headers()
{
    TDocHeaders headers;
    headers.Add(QStringLiteral("From"), QStringLiteral("me@x.test"));
    headers.Add(QStringLiteral("To"), QStringLiteral("a@x.test"));
    return headers;
}

const QString kAuthRequired = QStringLiteral("S:530 5.7.0 Authentication required");
} // namespace

class TestProviderScripted : public QObject {
    Q_OBJECT
private slots:
    void signInAskedButNotGiven_data();
    void signInAskedButNotGiven();
    void encryptionOfferRemoved_data();
    void encryptionOfferRemoved();
    void submissionPortInClear();
    void idleSessionClosed_data();
    void idleSessionClosed();
};

void TestProviderScripted::signInAskedButNotGiven_data()
{
    QTest::addColumn<bool>("outside"); // the server is another host
    QTest::addColumn<QString>("password");
    QTest::addColumn<short>("error");
    QTest::addColumn<QString>("says");
    QTest::newRow("no password typed") << false << "" << short(1024) << "type the password on the Connect To page";
    QTest::newRow("in clear to another host: the password stays here")
        << true << "s3cret-pw" << short(1025) << "the password was not sent";
}

void TestProviderScripted::signInAskedButNotGiven()
{
    QFETCH(bool, outside);
    QFETCH(QString, password);
    QFETCH(short, error);
    QFETCH(QString, says);
    const QHostAddress address = outside ? OutsideAddress() : QHostAddress(QHostAddress::LocalHost);
    if (address.isNull())
        QSKIP("this machine has no address but loopback");
    ScriptServer server({"S:220 t ESMTP", "C:EHLO", "S:250-t\r\n250 AUTH PLAIN LOGIN", "C:MAIL FROM", kAuthRequired,
                         "C:RSET", "S:250 ok"},
                        nullptr, address);
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetTimeout(5);
    smtp.SetRemoteHost(HostOf(server, address));
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    smtp.SetUserId("alice");
    smtp.SetPassword(password);
    smtp.SendDoc(Headers(), QStringLiteral("kept"), std::nullopt);
    QTRY_VERIFY(!smtp.Busy());
    QCOMPARE(watch.errors, QList<short>{error});
    QVERIFY2(watch.description.contains(says), qPrintable(watch.description));
    QCOMPARE(smtp.State(), short(4)); // the session stays for the next try
    const QString sent = server.ClientLines().join('\n');
    QVERIFY(!sent.contains("AUTH"));
    QVERIFY(!sent.contains(QByteArray("s3cret-pw").toBase64()));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestProviderScripted::encryptionOfferRemoved_data()
{
    QTest::addColumn<bool>("pop");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("linesSent");
    QTest::newRow("SMTP: STARTTLS gone from EHLO") << false
                                                   << QStringList{"S:220 t", "C:EHLO", "S:250-t\r\n250 AUTH PLAIN"}
                                                   << 1;
    QTest::newRow("POP3: STLS gone from CAPA") << true << QStringList{"S:+OK", "C:CAPA", "S:+OK", "S:USER", "S:."}
                                               << 1;
    QTest::newRow("POP3: CAPA refused") << true << QStringList{"S:+OK", "C:CAPA", "S:-ERR"} << 1;
}

void TestProviderScripted::encryptionOfferRemoved()
{
    QFETCH(bool, pop);
    QFETCH(QStringList, script);
    QFETCH(int, linesSent);
    ScriptServer server(script);
    Remember(QStringLiteral("127.0.0.1"), server.Port());
    TSMTP smtp;
    TPOP popControl;
    TInternetControl *control = pop ? static_cast<TInternetControl *>(&popControl) : &smtp;
    ControlEvents watch(control);
    connect(&popControl, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            popControl.Authenticate("alice", "alice-pw");
    });
    control->SetRemoteHost(server.Host());
    control->Connect();
    QTRY_COMPARE(control->State(), short(6));
    QCOMPARE(watch.errors, QList<short>{1032});
    QVERIFY2(watch.description.contains("someone may be interfering"), qPrintable(watch.description));
    QVERIFY(!watch.Saw("state 4"));
    QTRY_COMPARE(server.ClientLines().size(), linesSent); // nothing after EHLO / CAPA: no USER, no MAIL
}

void TestProviderScripted::submissionPortInClear()
{
    // Port 587 is for submission with encryption: without STARTTLS someone
    // removed it, whether or not this server was seen before.
    const QHostAddress address = OutsideAddress();
    if (address.isNull())
        QSKIP("this machine has no address but loopback");
    ScriptServer server({"S:220 t", "C:EHLO", "S:250-t\r\n250 AUTH PLAIN"}, nullptr, address, 587);
    if (!server.Listening())
        QSKIP("port 587 is taken or needs privileges here");
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(HostOf(server, address));
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(6));
    QCOMPARE(watch.errors, QList<short>{1032});
    QTRY_COMPARE(server.ClientLines().size(), 1);
}

void TestProviderScripted::idleSessionClosed_data()
{
    QTest::addColumn<QStringList>("farewell"); // how the server ends the idle session
    QTest::addColumn<QStringList>("next");     // the session after it
    QTest::addColumn<short>("error");          // 0: none, and Send delivers
    const QStringList session{"S:220 t", "C:EHLO", "S:250 t"};
    const QStringList delivery{"C:MAIL", "S:250 ok", "C:RCPT", "S:250 ok", "C:DATA", "S:354 go", "D", "S:250 queued"};
    QTest::newRow("421 then close") << QStringList{"S:421 4.4.2 t Error: timeout exceeded", "X"}
                                    << session + delivery << short(0);
    QTest::newRow("plain close") << QStringList{"X"} << session + delivery << short(0);
    QTest::newRow("closed again as soon as it is opened: reported")
        << QStringList{"X"} << session + QStringList{"X"} << short(1004);
}

void TestProviderScripted::idleSessionClosed()
{
    QFETCH(QStringList, farewell);
    QFETCH(QStringList, next);
    QFETCH(short, error);
    ScriptServer server(QStringList{"S:220 t", "C:EHLO", "S:250 t"});
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetTimeout(5);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    server.Append(farewell + next);
    QTRY_COMPARE(server.Connections(), 2);
    if (error) {
        QTRY_COMPARE(smtp.State(), short(6));
        QCOMPARE(watch.errors, QList<short>{error});
        return;
    }
    QTRY_COMPARE(smtp.State(), short(4));
    QVERIFY(EndsWith(watch.events, {"state 6", "state 1", "state 2", "state 3", "state 4"}));
    smtp.SendDoc(Headers(), QStringLiteral("after a pause"), std::nullopt);
    QTRY_VERIFY(server.Finished() && !smtp.Busy());
    QVERIFY(watch.errors.isEmpty());
    QVERIFY(server.Data().contains("after a pause"));
}

QTEST_MAIN(TestProviderScripted)
#include "tst_providerscripted.moc"
