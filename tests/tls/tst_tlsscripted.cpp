// Servers that offer encryption and then misbehave: the controls must end
// the session with an error and never go on in clear.
#include "controlevents.h"
#include "scriptserver.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QTest>

namespace {
const QStringList kSmtpOffer{"S:220 t ESMTP", "C:EHLO", "S:250-t\r\n250-PIPELINING\r\n250 STARTTLS", "C:STARTTLS"};
const QStringList kPopOffer{"S:+OK ready", "C:CAPA", "S:+OK", "S:USER", "S:STLS", "S:.", "C:STLS"};
// Enough of a TLS ClientHello to know the handshake has begun.
const QString kHelloStarted = QStringLiteral("W:40");

// After STARTTLS / STLS only a TLS handshake record may have gone out.
bool NothingInClear(const QByteArray &unread)
{
    return unread.isEmpty() || unread.startsWith("\x16\x03");
}
} // namespace

class TestTlsScripted : public QObject {
    Q_OBJECT
private slots:
    void smtpUpgradeFaults_data();
    void smtpUpgradeFaults();
    void popUpgradeFaults_data();
    void popUpgradeFaults();
    void popWithoutStlsLogsInAsBefore();
};

void TestTlsScripted::smtpUpgradeFaults_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<short>("error");
    QTest::newRow("STARTTLS refused after the offer") << QStringList{"S:454 4.7.0 TLS not available"} << short(1030);
    QTest::newRow("garbage during the handshake")
        << QStringList{"S:220 2.0.0 go ahead", kHelloStarted, "S:this is not TLS"} << short(1030);
    QTest::newRow("connection closed during the handshake")
        << QStringList{"S:220 2.0.0 go ahead", kHelloStarted, "X"} << short(1030);
    // Lines sent in clear behind the 220 must not be taken as answers that
    // came over the encrypted connection.
    QTest::newRow("clear text injected behind the 220")
        << QStringList{"R:220 2.0.0 go ahead\r\n250-injected\r\n250 AUTH PLAIN\r\n", kHelloStarted, "X"} << short(1030);
    QTest::newRow("silent during the handshake") << QStringList{"S:220 2.0.0 go ahead", kHelloStarted, "Z"}
                                                 << short(1005);
}

void TestTlsScripted::smtpUpgradeFaults()
{
    QFETCH(QStringList, script);
    QFETCH(short, error);
    ScriptServer server(kSmtpOffer + script);
    TSMTP smtp;
    smtp.SetTimeout(2);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(smtp.State(), short(6), 10000);
    QCOMPARE(watch.errors, QList<short>{error});
    QVERIFY(!watch.events.contains("state 4"));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
    QVERIFY2(NothingInClear(server.Unread()), server.Unread().left(60).constData());
}

void TestTlsScripted::popUpgradeFaults_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<short>("error");
    QTest::newRow("STLS refused after the offer") << (kPopOffer + QStringList{"S:-ERR not now"}) << short(1030);
    QTest::newRow("garbage during the handshake")
        << (kPopOffer + QStringList{"S:+OK begin TLS", kHelloStarted, "S:-ERR this is not TLS"}) << short(1030);
    QTest::newRow("clear text injected behind the +OK")
        << (kPopOffer + QStringList{"R:+OK begin TLS\r\n+OK injected\r\n", kHelloStarted, "X"}) << short(1030);
    QTest::newRow("STLS offered in pieces, bare LF")
        << QStringList{"S:+OK ready", "C:CAPA", "R:+OK\nUSER\nST", "R:LS\n.\n", "C:STLS", "S:-ERR no"} << short(1030);
    QStringList endless{"S:+OK ready", "C:CAPA", "S:+OK"};
    for (int i = 0; i < 300; ++i)
        endless << QStringLiteral("S:X-CAPABILITY-%1").arg(i);
    QTest::newRow("endless capability list") << (endless + QStringList{"Z"}) << short(1006);
}

void TestTlsScripted::popUpgradeFaults()
{
    QFETCH(QStringList, script);
    QFETCH(short, error);
    ScriptServer server(script);
    TPOP pop;
    pop.SetTimeout(2);
    ControlEvents watch(&pop);
    // The login waits for protocol state 1, which must never come.
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate("alice", "alice-pw");
    });
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(pop.State(), short(6), 10000);
    QCOMPARE(watch.errors, QList<short>{error});
    QVERIFY(!watch.events.contains("state 4"));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
    QVERIFY2(NothingInClear(server.Unread()), server.Unread().left(60).constData());
    QVERIFY(!server.ClientLines().join('\n').contains("USER"));
}

void TestTlsScripted::popWithoutStlsLogsInAsBefore()
{
    ScriptServer server({"S:+OK ready", "C:CAPA", "S:+OK", "S:TOP", "S:USER", "S:.", "C:USER alice", "S:+OK",
                         "C:PASS alice-pw", "S:+OK", "C:STAT", "S:+OK 0 0"});
    TPOP pop;
    ControlEvents watch(&pop);
    qint32 count = -1;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate("alice", "alice-pw");
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32 n) { count = n; });
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(count, 0, 10000);
    QVERIFY(watch.errors.isEmpty());
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

QTEST_MAIN(TestTlsScripted)
#include "tst_tlsscripted.moc"
