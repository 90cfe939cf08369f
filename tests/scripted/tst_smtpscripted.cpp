// The SMTP control against scripted servers that misbehave in the ways a
// real server will not on demand: every row plays one transcript.
#include "docobjects.h"
#include "eoleexception.h"
#include "controlevents.h"
#include "scriptserver.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QTemporaryFile>
#include <QTest>

namespace {
const QStringList kHello{"S:220 test ESMTP", "C:EHLO", "S:250-test\r\n250-PIPELINING\r\n250 8BITMIME"};
const QStringList kHelloNoPipelining{"S:220 test ESMTP", "C:EHLO", "S:250-test\r\n250 8BITMIME"};



void SetHeaders(TSMTP *smtp, const QString &to = QStringLiteral("a@x.test"))
{
    TDocHeaders &h = smtp->DocInput()->Headers();
    h.Clear();
    h.Add("To", to);
    h.Add("From", "me@x.test");
    h.Add("CC", "");
    h.Add("Subject", "test");
}

void SendText(TSMTP *smtp, const QString &text)
{
    SetHeaders(smtp);
    smtp->SendDoc(smtp->DocInput()->Headers(), text, QString());
}
} // namespace

class TestSmtpScripted : public QObject {
    Q_OBJECT
private slots:
    void sessions_data();
    void sessions();
    void documents_data();
    void documents();
    void connectingToAClosedPortIs1003();
    void unknownHostIs1003();
    void portComesFromRemoteHostElseRemotePort_data();
    void portComesFromRemoteHostElseRemotePort();
    void ipv6LoopbackInBrackets();
    void sessionStaysUsableAfterARefusedRecipient();
    void withoutPipeliningCommandsGoOneByOne();
    void emptyFileNameIsAnErrorNotACrash();
    void headerWithLineBreakIsRefusedBeforeAnythingIsSent();
    void verifyKeepsBusyUntilTheDocumentSentFromOnVerifyEnds();
    void verifyRejectsABadListWithoutEvent();
    void callsThatCannotWorkThrow();
    void serverStopsMidTransfer_data();
    void serverStopsMidTransfer();
};

void TestSmtpScripted::sessions_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("error");     // 0: none
    QTest::addColumn<int>("finalState");

    QTest::newRow("greeting and EHLO") << kHello << 0 << 4;
    QTest::newRow("bare 250 to EHLO") << QStringList{"S:220 hi", "C:EHLO", "S:250"} << 0 << 4;
    QTest::newRow("LF-only replies") << QStringList{"S:220 hi", "C:EHLO", "R:250-a\n250 PIPELINING\n"} << 0 << 4;
    QTest::newRow("greeting split across reads") << QStringList{"R:22", "R:0-one\r\n220", "R: two\r\n", "C:EHLO", "S:250 ok"} << 0 << 4;
    QTest::newRow("EHLO refused, HELO taken") << QStringList{"S:220 hi", "C:EHLO", "S:502 no", "C:HELO", "S:250 ok"} << 0 << 4;
    QTest::newRow("EHLO and HELO refused") << QStringList{"S:220 hi", "C:EHLO", "S:502 no", "C:HELO", "S:550 go away"} << 1011 << 6;
    QTest::newRow("greeting 554") << QStringList{"S:554 no service"} << 1010 << 6;
    QTest::newRow("greeting 421") << QStringList{"S:421 busy"} << 1010 << 6;
    QTest::newRow("EHLO answered 421") << QStringList{"S:220 hi", "C:EHLO", "S:421 shutting down"} << 1011 << 6;
    QTest::newRow("silent server") << QStringList{"Z"} << 1005 << 6;
    QTest::newRow("silent after EHLO") << QStringList{"S:220 hi", "C:EHLO", "Z"} << 1005 << 6;
    QTest::newRow("closed before greeting") << QStringList{"X"} << 1004 << 6;
    QTest::newRow("closed after EHLO") << QStringList{"S:220 hi", "C:EHLO", "X"} << 1004 << 6;
    QTest::newRow("garbage greeting") << QStringList{"S:HELLO THERE"} << 1006 << 6;
    QTest::newRow("invalid reply code") << QStringList{"S:220 hi", "C:EHLO", "S:600 what"} << 1006 << 6;
    QTest::newRow("1 MiB line without CRLF") << QStringList{"BIG", "Z"} << 1006 << 6;
    QStringList endless{"S:220 hi", "C:EHLO"};
    for (int i = 0; i < 600; ++i)
        endless << "S:250-more";
    QTest::newRow("endless multi-line reply") << (endless << "Z") << 1006 << 6;
}

void TestSmtpScripted::sessions()
{
    QFETCH(QStringList, script);
    QFETCH(int, error);
    QFETCH(int, finalState);
    ScriptServer server(script);
    TSMTP smtp;
    smtp.SetTimeout(1);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(smtp.State() == finalState && (error == 0 || !watch.errors.isEmpty()), 5000);
    QTest::qWait(20);
    QCOMPARE(smtp.State(), short(finalState));
    QCOMPARE(watch.errors, error ? QList<short>{short(error)} : QList<short>{});
    QCOMPARE(watch.events.mid(0, 3), (QStringList{"state 1", "state 2", "state 3"}));
    QCOMPARE(watch.events.last(), QStringLiteral("state %1").arg(finalState));
    if (error)
        QVERIFY(!watch.description.isEmpty());
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestSmtpScripted::documents_data()
{
    QTest::addColumn<QStringList>("transaction");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<QString>("serverText"); // expected Description
    QTest::addColumn<int>("laterError");     // a second failure the first one led to

    const QStringList accepted{"C:MAIL FROM:<me@x.test>", "C:RCPT TO:<a@x.test>", "S:250 ok", "S:250 ok", "C:DATA",
                               "S:354 go", "D"};
    QTest::newRow("accepted") << (accepted + QStringList{"S:250 queued"}) << 0 << 4 << "" << 0;
    QTest::newRow("accepted with bare 250") << (accepted + QStringList{"S:250"}) << 0 << 4 << "" << 0;
    QTest::newRow("MAIL refused")
        << QStringList{"C:MAIL", "C:RCPT", "S:550 5.7.1 sender rejected", "S:503 no", "C:RSET", "S:250 ok"} << 1012 << 4
        << "5.7.1 sender rejected" << 0;
    QTest::newRow("RCPT refused")
        << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:550 5.1.1 <a@x.test>: unknown", "C:RSET", "S:250 ok"}
        << 1013 << 4 << "5.1.1 <a@x.test>: unknown" << 0;
    QTest::newRow("RCPT 4xx") << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:451 try later", "C:RSET", "S:250 ok"}
                              << 1013 << 4 << "try later" << 0;
    QTest::newRow("DATA refused") << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:250 ok", "C:DATA",
                                                 "S:554 no valid recipients", "C:RSET", "S:250 ok"}
                                  << 1014 << 4 << "no valid recipients" << 0;
    QTest::newRow("end of data refused, multi-line")
        << (accepted + QStringList{"S:552-5.3.4 message too big\r\n552 5.3.4 try smaller"}) << 1015 << 4
        << "5.3.4 message too big 5.3.4 try smaller" << 0;
    QTest::newRow("end of data 451") << (accepted + QStringList{"S:451 local error"}) << 1015 << 4 << "local error" << 0;
    QTest::newRow("RSET refused ends the session")
        << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:550 no", "C:RSET", "S:500 what"} << 1013 << 6 << "" << 1006;
    QTest::newRow("421 at RCPT") << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:421 closing"} << 1004 << 6
                                 << "closing" << 0;
    QTest::newRow("closed after 354") << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:250 ok", "C:DATA", "S:354 go", "X"}
                                      << 1004 << 6 << "" << 0;
    QTest::newRow("silent after end of data") << (accepted + QStringList{"Z"}) << 1005 << 6 << "" << 0;
    QTest::newRow("silent after MAIL") << QStringList{"C:MAIL", "C:RCPT", "Z"} << 1005 << 6 << "" << 0;
    QTest::newRow("garbage reply to RCPT") << QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:what?"} << 1006 << 6 << "" << 0;
}

void TestSmtpScripted::documents()
{
    QFETCH(QStringList, transaction);
    QFETCH(int, error);
    QFETCH(int, finalState);
    QFETCH(QString, serverText);
    QFETCH(int, laterError);
    ScriptServer server(kHello + transaction);
    TSMTP smtp;
    smtp.SetTimeout(1);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SendText(&smtp, "hello\r\n.\r\n");
    QVERIFY(smtp.Busy());
    QTRY_VERIFY_WITH_TIMEOUT(watch.Saw("doc 5") && smtp.State() == finalState, 5000);
    QTest::qWait(20);
    QVERIFY(!smtp.Busy());
    QList<short> errors;
    if (error)
        errors << short(error);
    if (laterError)
        errors << short(laterError);
    QCOMPARE(watch.errors, errors);
    QCOMPARE(smtp.State(), short(finalState));
    // Every document begins and ends, failed or not; the error comes first.
    QCOMPARE(watch.events.count("doc 1"), 1);
    QCOMPARE(watch.events.count("doc 5"), 1);
    if (error) {
        QVERIFY(watch.events.indexOf(QStringLiteral("error %1").arg(error)) < watch.events.indexOf("doc 5"));
        if (!serverText.isEmpty()) {
            QCOMPARE(watch.description, serverText);
            QVERIFY(!watch.errorLines.isEmpty());
        }
    } else {
        QVERIFY(watch.events.contains("doc 2") && watch.events.contains("doc 3"));
        QVERIFY(server.Data().contains("\r\nSubject: test\r\n"));
        QVERIFY(server.Data().endsWith("\r\n\r\nhello\r\n..\r\n"));
        QCOMPARE(watch.transferred, 10);
    }
    QTRY_VERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestSmtpScripted::connectingToAClosedPortIs1003()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(QStringLiteral("127.0.0.1:%1").arg(port));
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(6));
    QCOMPARE(watch.events, (QStringList{"state 1", "state 2", "state 3", "error 1003", "state 6"}));
}

void TestSmtpScripted::unknownHostIs1003()
{
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost("no-such-host.invalid");
    smtp.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(smtp.State(), short(6), 10000);
    QCOMPARE(watch.errors, QList<short>{1003});

    ControlEvents empty(&smtp); // an empty host (cleared server field) fails the same way
    smtp.SetRemoteHost(QString());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(6));
    QCOMPARE(empty.errors, QList<short>{1003});
}

void TestSmtpScripted::portComesFromRemoteHostElseRemotePort_data()
{
    QTest::addColumn<bool>("pop");
    QTest::addColumn<QString>("host");   // %1: the server's port, %2: a closed one
    QTest::addColumn<QString>("remotePort");
    QTest::addColumn<bool>("connects");
    QTest::newRow("smtp, RemotePort") << false << "127.0.0.1" << "%1" << true;
    QTest::newRow("pop, RemotePort") << true << "127.0.0.1" << "%1" << true;
    QTest::newRow("smtp, host:port wins") << false << "[::ffff:127.0.0.1]:%1" << "%2" << true;
    QTest::newRow("pop, host:port wins") << true << "127.0.0.1:%1" << "%2" << true;
    QTest::newRow("smtp, RemotePort elsewhere") << false << "127.0.0.1" << "%2" << false;
    QTest::newRow("pop, no port at all") << true << "127.0.0.1" << "0" << false;
}

void TestSmtpScripted::portComesFromRemoteHostElseRemotePort()
{
    QFETCH(bool, pop);
    QFETCH(QString, host);
    QFETCH(QString, remotePort);
    QFETCH(bool, connects);
    ScriptServer server(pop ? QStringList{"S:+OK ready", "Z"} : kHello);
    quint16 closed;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closed = probe.serverPort();
    }
    std::unique_ptr<TInternetControl> control;
    if (pop)
        control = std::make_unique<TPOP>();
    else
        control = std::make_unique<TSMTP>();
    QCOMPARE(control->RemotePort(), pop ? 110 : 25);
    QList<short> errors;
    connect(control.get(), &TInternetControl::OnError, this,
            [&](short n, const QString &, bool &) { errors << n; });
    auto fill = [&](QString text) {
        return text.replace("%1", QString::number(server.Port())).replace("%2", QString::number(closed));
    };
    const QString shown = fill(host);
    control->SetRemoteHost(shown);
    control->SetRemotePort(fill(remotePort).toInt());
    control->Connect();
    QTRY_VERIFY(control->State() == 4 || control->State() == 6);
    QCOMPARE(control->State(), short(connects ? 4 : 6));
    QCOMPARE(errors, connects ? QList<short>{} : QList<short>{1003});
    QCOMPARE(control->RemoteHost(), shown); // shown as set
}

void TestSmtpScripted::ipv6LoopbackInBrackets()
{
    ScriptServer server(kHello + QStringList{"C:QUIT", "S:221 bye", "X"}, nullptr,
                        QHostAddress(QHostAddress::LocalHostIPv6));
    if (!server.Listening())
        QSKIP("this machine has no IPv6 loopback");
    TSMTP smtp;
    smtp.SetRemoteHost(QStringLiteral("[::1]:%1").arg(server.Port()));
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    smtp.Quit();
    QTRY_COMPARE(smtp.State(), short(6));
    QVERIFY(server.ClientLines().contains(QStringLiteral("QUIT")));
}

void TestSmtpScripted::sessionStaysUsableAfterARefusedRecipient()
{
    ScriptServer server(kHello + QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:550 no such user", "C:RSET", "S:250 ok",
                                             "C:MAIL", "C:RCPT", "S:250 ok", "S:250 ok", "C:DATA", "S:354 go", "D",
                                             "S:250 queued", "C:QUIT", "S:221 bye", "X"});
    TSMTP smtp;
    smtp.SetTimeout(2);
    ControlEvents watch(&smtp);
    // The next document starts from inside the failed one's end, as soon
    // as Busy is false.
    bool second = false;
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) {
        if (doc->State() == 5 && !second) {
            second = true;
            QVERIFY(!smtp.Busy());
            SendText(&smtp, "second");
        }
    });
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SendText(&smtp, "first");
    QTRY_COMPARE(watch.events.count("doc 5"), 2);
    QCOMPARE(watch.errors, QList<short>{1013});
    QVERIFY(!server.Data().contains("first"));
    QVERIFY(server.Data().endsWith("\r\n\r\nsecond\r\n"));
    smtp.Quit();
    QTRY_COMPARE(smtp.State(), short(6));
    QVERIFY(EndsWith(watch.events, QStringList{"state 5", "state 6"}));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestSmtpScripted::withoutPipeliningCommandsGoOneByOne()
{
    // A server without PIPELINING that answers each command only if it came
    // alone: the script expects each command right after its reply.
    ScriptServer server(kHelloNoPipelining
                        + QStringList{"C:MAIL", "S:250 ok", "C:RCPT TO:<a@x.test>", "S:250 ok", "C:RCPT TO:<b@x.test>",
                                      "S:250 ok", "C:DATA", "S:354 go", "D", "S:250 ok"});
    TSMTP smtp;
    smtp.SetTimeout(2);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SetHeaders(&smtp, "a@x.test, Bee <b@x.test>");
    smtp.SendDoc(smtp.DocInput()->Headers(), "x", QString());
    QTRY_VERIFY(watch.Saw("doc 5"));
    QVERIFY(watch.errors.isEmpty());
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestSmtpScripted::emptyFileNameIsAnErrorNotACrash()
{
    ScriptServer server(kHello);
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SetHeaders(&smtp);
    smtp.DocInput()->SetFileName(QString());
    smtp.SendDoc(smtp.DocInput()->Headers(), std::nullopt, smtp.DocInput()->FileName());
    QTRY_VERIFY(watch.Saw("doc 5"));
    QCOMPARE(watch.errors, QList<short>{1018});
    QCOMPARE(watch.description, QStringLiteral("No file name given"));
    QVERIFY(!smtp.Busy());

    ControlEvents missing(&smtp); // a file that is not there
    smtp.SendDoc(smtp.DocInput()->Headers(), std::nullopt, "/nonexistent/file.txt");
    QTRY_VERIFY(missing.Saw("doc 5"));
    QCOMPARE(missing.errors, QList<short>{1018});
    QCOMPARE(smtp.State(), short(4));
    QCOMPARE(server.ClientLines().size(), 1); // only EHLO went out
}

void TestSmtpScripted::headerWithLineBreakIsRefusedBeforeAnythingIsSent()
{
    ScriptServer server(kHello);
    TSMTP smtp;
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SetHeaders(&smtp);
    smtp.DocInput()->Headers().Add("Subject", "hi\r\nBcc: victim@x.test");
    smtp.SendDoc(smtp.DocInput()->Headers(), "x", QString());
    QTRY_VERIFY(watch.Saw("doc 5"));
    QCOMPARE(watch.errors, QList<short>{1016});
    QTest::qWait(50);
    QCOMPARE(server.ClientLines().size(), 1);
}

void TestSmtpScripted::verifyKeepsBusyUntilTheDocumentSentFromOnVerifyEnds()
{
    ScriptServer server(kHello + QStringList{"C:MAIL", "C:RCPT", "C:RCPT", "S:250 ok", "S:250 ok", "S:250 ok", "C:DATA",
                                             "S:354 go", "D", "S:250 ok"});
    TSMTP smtp;
    smtp.SetTimeout(2);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    connect(&smtp, &TSMTP::OnVerify, this, [&] {
        smtp.DocInput()->Headers().Clear();
        smtp.DocInput()->Headers().Add("To", "a@x.test");
        smtp.DocInput()->Headers().Add("From", "me@x.test");
        smtp.DocInput()->Headers().Add("CC", "Bo <b@x.test>");
        smtp.SendDoc(smtp.DocInput()->Headers(), "typed text", QString());
    });
    smtp.Verify("a@x.test, Bo <b@x.test>");
    QVERIFY(smtp.Busy());
    // The window's wait: it must wake up and end once the document has.
    QElapsedTimer timer;
    timer.start();
    while (smtp.Busy() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QVERIFY(!smtp.Busy());
    QVERIFY(watch.Saw("doc 5"));
    QVERIFY(watch.errors.isEmpty());
    QVERIFY(server.Data().endsWith("typed text\r\n"));
}

void TestSmtpScripted::verifyRejectsABadListWithoutEvent()
{
    TSMTP smtp;
    int verified = 0;
    connect(&smtp, &TSMTP::OnVerify, this, [&] { ++verified; });
    for (const QString &list : {QStringLiteral("a@x.test, nonsense"), QString(), QStringLiteral("a@")}) {
        smtp.Verify(list);
        QVERIFY(smtp.Busy());
        QTRY_VERIFY(!smtp.Busy());
    }
    QCOMPARE(verified, 0);
    smtp.Verify("Al <a@x.test>, b@y.test");
    QTRY_VERIFY(!smtp.Busy());
    QCOMPARE(verified, 1);
}

void TestSmtpScripted::callsThatCannotWorkThrow()
{
    TSMTP smtp;
    smtp.SetTimeout(1);
    SetHeaders(&smtp);
    QVERIFY_THROWS_EXCEPTION(EOleException, SendText(&smtp, "x")); // not connected
    // Verify without a list no longer compiles: the argument is typed.
    ScriptServer server(kHello);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QVERIFY_THROWS_EXCEPTION(EOleException, smtp.Connect());
    QTRY_COMPARE(smtp.State(), short(4));
    SendText(&smtp, "x");
    QVERIFY_THROWS_EXCEPTION(EOleException, SendText(&smtp, "y")); // busy
    smtp.Quit();
    QTRY_COMPARE(smtp.State(), short(6));
}

void TestSmtpScripted::serverStopsMidTransfer_data()
{
    QTest::addColumn<QStringList>("afterData");
    QTest::addColumn<int>("error");
    QTest::newRow("server stops reading") << QStringList{"SLOW"} << 1005;
    QTest::newRow("server refuses while the text streams") << QStringList{"S:552 too big", "SLOW"} << 1015;
}

void TestSmtpScripted::serverStopsMidTransfer()
{
    QFETCH(QStringList, afterData);
    QFETCH(int, error);
    // The server stops reading in the middle of a large body: the control
    // must not buffer the file and must give up after the timeout.
    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray line = QByteArray(70, 'z') + "\r\n";
    for (int i = 0; i < (32 << 20) / line.size(); ++i)
        file.write(line);
    file.flush();
    ScriptServer server(kHello + QStringList{"C:MAIL", "C:RCPT", "S:250 ok", "S:250 ok", "C:DATA", "S:354 go"} + afterData);
    TSMTP smtp;
    smtp.SetTimeout(1);
    ControlEvents watch(&smtp);
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    SetHeaders(&smtp);
    smtp.SendDoc(smtp.DocInput()->Headers(), std::nullopt, file.fileName());
    QTRY_VERIFY_WITH_TIMEOUT(watch.Saw("doc 5"), 10000);
    QCOMPARE(watch.errors, QList<short>{short(error)});
    QCOMPARE(smtp.State(), short(6));
    QVERIFY(watch.transferred < (32 << 20)); // it really stopped midway
}

QTEST_MAIN(TestSmtpScripted)
#include "tst_smtpscripted.moc"
