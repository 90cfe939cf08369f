// The POP control against scripted servers: faults a real server will not
// produce on demand, one transcript per row.
#include "docobjects.h"
#include "eoleexception.h"
#include "controlevents.h"
#include "scriptserver.h"
#include "tpop.h"

#include <QLibraryInfo>
#include <QScopeGuard>
#include <QTest>

namespace {
const QStringList kLogin{"S:+OK ready", "C:USER alice", "S:+OK", "C:PASS alice-pw", "S:+OK logged in", "C:STAT",
                         "S:+OK 2 300"};



void Login(TPOP *pop, ScriptServer *server)
{
    pop->SetRemoteHost(server->Host());
    pop->SetUserId("alice");
    pop->SetPassword("alice-pw");
    QObject::connect(pop, &TPOP::OnProtocolStateChanged, pop, [pop](short s) {
        if (s == 1)
            pop->Authenticate(pop->UserId(), pop->Password());
    });
    pop->Connect();
}
} // namespace

class TestPopScripted : public QObject {
    Q_OBJECT
private slots:
    // First: once the engines' module is open it stays open.
    void unusableEnginesModule_data();
    void unusableEnginesModule();
    void loginAndCount();
    void refusedPasswordErrsInAuthorizationThenQuits();
    void retrievals_data();
    void retrievals();
    void sessions_data();
    void sessions();
    void retrieveWhileBusyOrLoggedOutThrows();
    void trickledAnswers_data();
    void trickledAnswers();
    void longMessageIsCutAndTheSessionGoesOn_data();
    void longMessageIsCutAndTheSessionGoesOn();
};

// The engines' module opens at the first Connect. One that cannot be used
// fails that call with the reason and leaves the control disconnected and
// idle; the next test's Connect then opens the real one.
void TestPopScripted::unusableEnginesModule_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "/nonexistent/orvmail-engines.so" << "/nonexistent/orvmail-engines.so";
    QTest::newRow("not a library") << QStringLiteral(__FILE__) << QStringLiteral(__FILE__);
    const QString core = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + "/libQt6Core.so.6";
    QTest::newRow("another library") << core << core + ": not a module of this program";
}

void TestPopScripted::unusableEnginesModule()
{
    QFETCH(QString, module);
    QFETCH(QString, reason);
    qputenv("ORVANTA_MAIL_ENGINES", module.toLocal8Bit());
    const auto restore = qScopeGuard([] { qunsetenv("ORVANTA_MAIL_ENGINES"); });
    TPOP pop;
    ControlEvents watch(&pop);
    try {
        pop.Connect("127.0.0.1", 1);
        QFAIL("Connect did not throw");
    } catch (const EOleException &error) {
        QVERIFY2(error.Message().startsWith("The network engines could not be loaded ("), qPrintable(error.Message()));
        QVERIFY2(error.Message().contains(reason), qPrintable(error.Message()));
    }
    QCOMPARE(pop.State(), short(6));
    QCOMPARE(pop.ProtocolState(), short(0));
    QVERIFY(!pop.Busy());
    pop.Quit();
    QVERIFY_THROWS_EXCEPTION(EOleException, pop.RetrieveMessage(1));
    QTest::qWait(20);
    QCOMPARE(watch.events, QStringList());
}

void TestPopScripted::loginAndCount()
{
    ScriptServer server(kLogin + QStringList{"C:QUIT", "S:+OK bye", "X"});
    TPOP pop;
    QCOMPARE(pop.RemotePort(), 110);
    ControlEvents watch(&pop);
    Login(&pop, &server);
    QTRY_VERIFY(!watch.counts.isEmpty());
    QCOMPARE(watch.events, (QStringList{"state 1", "state 2", "state 3", "state 4", "protocol 1", "protocol 2",
                                        "count 2"}));
    QVERIFY(!pop.Busy());
    QCOMPARE(pop.ProtocolState(), short(2));
    pop.Quit();
    QTRY_COMPARE(pop.State(), short(6));
    QVERIFY(EndsWith(watch.events, QStringList{"state 5", "state 6"}));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestPopScripted::refusedPasswordErrsInAuthorizationThenQuits()
{
    ScriptServer server(
        {"S:+OK ready", "C:USER alice", "S:+OK", "C:PASS", "S:-ERR [AUTH] Authentication failed.", "C:QUIT", "S:+OK", "X"});
    TPOP pop;
    ControlEvents watch(&pop);
    Login(&pop, &server);
    QTRY_COMPARE(pop.State(), short(6));
    QCOMPARE(watch.errors, QList<short>{1020});
    QCOMPARE(watch.protocolAtError, short(1));
    QCOMPARE(watch.description, QStringLiteral("[AUTH] Authentication failed."));
    QVERIFY(EndsWith(watch.events, QStringList{"error 1020", "state 5", "state 6"}));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestPopScripted::retrievals_data()
{
    QTest::addColumn<QStringList>("retr");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QString>("body");

    QTest::newRow("folded header, stuffed dots, split reads")
        << QStringList{"C:RETR 1", "R:+OK 40\r\nSubject: one\r\n", "R: two\r\nTo: a@x\r\n\r\n..\r", "R:\n.", "R:.x\r\n.",
                       "R:\r", "R:\n"}
        << 0 << 4 << QStringList{"Subject: one two", "To: a@x"} << ".\r\n.x\r\n";
    QTest::newRow("0-byte message") << QStringList{"C:RETR 1", "S:+OK 0", "S:."} << 0 << 4 << QStringList{} << "";
    QTest::newRow("message without body") << QStringList{"C:RETR 1", "S:+OK", "S:A: b", "S:."} << 0 << 4
                                          << QStringList{"A: b"} << "";
    QTest::newRow("UTF-8 split between reads")
        << QStringList{"C:RETR 1", "L:" + QString::fromLatin1("+OK\r\nA: b\r\n\r\nGr\xc3"),
                       "L:" + QString::fromLatin1("\xbc\xc3\x9f" "e\r\n.\r\n")} << 0 << 4
        << QStringList{"A: b"} << QString::fromUtf8("Grüße\r\n");
    QTest::newRow("terminator glued to the last line never ends the message")
        << QStringList{"C:RETR 1", "R:+OK\r\nA: b\r\n\r\nlast line.\r\n", "Z"} << 1005 << 6 << QStringList{"A: b"}
        << "last line.\r\n";
    QTest::newRow("no such message") << QStringList{"C:RETR 1", "S:-ERR no such message"} << 1022 << 4 << QStringList{}
                                     << "";
    QTest::newRow("stall mid-transfer") << QStringList{"C:RETR 1", "R:+OK\r\nA: b\r\n\r\npart one\r\n", "Z"} << 1005 << 6
                                        << QStringList{"A: b"} << "part one\r\n";
    QTest::newRow("dropped mid-transfer") << QStringList{"C:RETR 1", "R:+OK\r\nA: b\r\n\r\npart one\r\n", "X"} << 1004
                                          << 6 << QStringList{"A: b"} << "part one\r\n";
    QTest::newRow("garbage instead of status") << QStringList{"C:RETR 1", "S:Hello?"} << 1006 << 6 << QStringList{} << "";
    QTest::newRow("1 MiB status line") << QStringList{"C:RETR 1", "BIG", "Z"} << 1006 << 6 << QStringList{} << "";
}

void TestPopScripted::retrievals()
{
    QFETCH(QStringList, retr);
    QFETCH(int, error);
    QFETCH(int, finalState);
    ScriptServer server(kLogin + retr);
    TPOP pop;
    pop.SetTimeout(1);
    ControlEvents watch(&pop);
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) { pop.RetrieveMessage(1); });
    Login(&pop, &server);
    QTRY_VERIFY_WITH_TIMEOUT(watch.Saw("doc 5") && pop.State() == finalState, 5000);
    QTest::qWait(20);
    QVERIFY(!pop.Busy());
    QCOMPARE(watch.errors, error ? QList<short>{short(error)} : QList<short>{});
    QTEST(watch.headers, "headers");
    QFETCH(QString, body); // as sent; the control's text ends its lines in '\n'
    QCOMPARE(watch.body, QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(watch.events.count("doc 1"), 1);
    QCOMPARE(watch.events.count("doc 5"), 1);
    if (error)
        QVERIFY(watch.events.indexOf(QStringLiteral("error %1").arg(error)) < watch.events.indexOf("doc 5"));
    else
        QCOMPARE(watch.transferred, qint32(body.toUtf8().size())); // octets as they came
    if (finalState == 4)
        QCOMPARE(pop.ProtocolState(), short(2));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

void TestPopScripted::sessions_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("error");
    QTest::newRow("silent server") << QStringList{"Z"} << 1005;
    QTest::newRow("greeting -ERR") << QStringList{"S:-ERR go away"} << 1010;
    QTest::newRow("garbage greeting") << QStringList{"S:220 wrong protocol"} << 1006;
    QTest::newRow("closed before greeting") << QStringList{"X"} << 1004;
    QTest::newRow("silent after USER") << QStringList{"S:+OK", "C:USER", "Z"} << 1005;
    QTest::newRow("dropped after PASS") << QStringList{"S:+OK", "C:USER", "S:+OK", "C:PASS", "X"} << 1004;
    QTest::newRow("malformed STAT") << (kLogin.mid(0, 6) + QStringList{"S:+OK lots", "Z"}) << 1021;
}

void TestPopScripted::sessions()
{
    QFETCH(QStringList, script);
    QFETCH(int, error);
    ScriptServer server(script);
    TPOP pop;
    pop.SetTimeout(1);
    ControlEvents watch(&pop);
    Login(&pop, &server);
    QTRY_VERIFY_WITH_TIMEOUT(!watch.errors.isEmpty(), 5000);
    QTest::qWait(50);
    QCOMPARE(watch.errors, QList<short>{short(error)});
    QVERIFY(!watch.description.isEmpty());
    QVERIFY(!pop.Busy());
    if (error != 1021) {
        QCOMPARE(pop.State(), short(6));
        QCOMPARE(watch.events.last(), QStringLiteral("state 6"));
    } else {
        QCOMPARE(pop.State(), short(4)); // a bad count does not end the session
    }
}

void TestPopScripted::retrieveWhileBusyOrLoggedOutThrows()
{
    TPOP pop;
    QVERIFY_THROWS_EXCEPTION(EOleException, pop.RetrieveMessage(1));
    ScriptServer server(kLogin + QStringList{"C:RETR 1", "Z"});
    ControlEvents watch(&pop);
    Login(&pop, &server);
    QTRY_VERIFY(!watch.counts.isEmpty());
    pop.RetrieveMessage(1);
    QVERIFY(pop.Busy());
    QVERIFY_THROWS_EXCEPTION(EOleException, pop.RetrieveMessage(2));
    QVERIFY_THROWS_EXCEPTION(EOleException, pop.Authenticate("a", "b"));
    pop.Quit(); // mid-retrieval: the document ends as a failure, the session closes
    QTRY_COMPARE(pop.State(), short(6));
    QVERIFY(EndsWith(watch.events, QStringList{"doc 1", "error 1007", "doc 5", "state 5", "state 6"}));
}

// The silence timer restarts with every byte; each command's deadline grows
// only with the data that came, so trickling does not keep it open for ever
// while a slow but steady message still arrives.
void TestPopScripted::trickledAnswers_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("retrieve");
    QTest::addColumn<int>("error");
    const QString line(400, QLatin1Char('x'));
    QTest::newRow("RETR, a byte every 100 ms")
        << (kLogin + QStringList{"C:RETR 1", "S:+OK", "S:A: b", "S:", "DRIP:1/100:" + line, "S:.", "Z"}) << true << 1005;
    QTest::newRow("CAPA list, a byte every 100 ms")
        << QStringList{"S:+OK ready", "C:CAPA", "S:+OK", "DRIP:1/100:X-" + line, "S:.", "Z"} << false << 1005;
    QTest::newRow("RETR, steady for longer than the silence timeout")
        << (kLogin + QStringList{"C:RETR 1", "S:+OK", "S:A: b", "S:", "DRIP:100/100:" + line.repeated(4), "S:.", "Z"})
        << true << 0;
}

void TestPopScripted::trickledAnswers()
{
    QFETCH(QStringList, script);
    QFETCH(bool, retrieve);
    QFETCH(int, error);
    ScriptServer server(script);
    TPOP pop;
    pop.SetTimeout(1);
    ControlEvents watch(&pop);
    if (retrieve)
        connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) { pop.RetrieveMessage(1); });
    Login(&pop, &server);
    QTRY_VERIFY_WITH_TIMEOUT(!watch.errors.isEmpty() || watch.Saw("doc 5"), 20000);
    QCOMPARE(watch.errors, error ? QList<short>{short(error)} : QList<short>{});
    if (error) {
        // Given up after about the silence timeout, not after the whole line.
        QVERIFY2(server.Dripped() < 50, qPrintable(QString::number(server.Dripped())));
        QTRY_COMPARE(pop.State(), short(6));
    } else {
        QCOMPARE(watch.body.size(), 4 * 400 + 1);
        QCOMPARE(pop.State(), short(4));
    }
}

// Past the limit the text ends with a line saying so; the rest of the
// message is read and dropped, and the next message comes whole.
void TestPopScripted::longMessageIsCutAndTheSessionGoesOn_data()
{
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("decode");
    QTest::newRow("plain text, streamed") << QStringList{"S:Subject: big"} << "" << "" << true;
    QTest::newRow("as source") << QStringList{"S:Subject: big"} << "" << "" << false;
    QTest::newRow("multipart, held to its end")
        << QStringList{"S:MIME-Version: 1.0", "S:Content-Type: multipart/mixed; boundary=b"}
        << "--b\r\nContent-Type: text/plain\r\n\r\n" << "--b--\r\n" << true;
}

void TestPopScripted::longMessageIsCutAndTheSessionGoesOn()
{
    QFETCH(QStringList, headers);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, decode);
    const QString line = QString(99, QLatin1Char('y')) + QStringLiteral("\r\n");
    const QString body = before + line.repeated(pop::kMaxMessageChars / 100 + 1000) + after;
    ScriptServer server(kLogin + QStringList{"C:RETR 1", "S:+OK"} + headers
                        + QStringList{"S:", "R:" + body, "S:.", "C:RETR 2", "S:+OK", "S:A: b", "S:", "S:second", "S:.",
                                      "Z"});
    TPOP pop;
    pop.SetDecodeMime(decode);
    ControlEvents watch(&pop);
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) { pop.RetrieveMessage(1); });
    Login(&pop, &server);
    QTRY_VERIFY_WITH_TIMEOUT(watch.Saw("doc 5"), 30000);
    QVERIFY(watch.errors.isEmpty());
    QVERIFY(pop.MessageCut());
    QCOMPARE(watch.transferred, qint32(body.size())); // every octet was read
    QVERIFY2(watch.body.size() <= pop::kMaxMessageChars + 100, qPrintable(QString::number(watch.body.size())));
    QVERIFY(watch.body.size() > pop::kMaxMessageChars / 2);
    QVERIFY(watch.body.endsWith(QStringLiteral(
        "y\n[The rest of this message is not shown: its text is longer than 16 million characters]\n")));
    for (const QString &chunk : std::as_const(watch.chunks))
        QVERIFY(chunk.size() <= 1024 * 1024); // no one event lays out the whole text

    pop.RetrieveMessage(2);
    QTRY_COMPARE(watch.documentsEnded, 2);
    QCOMPARE(watch.body, QStringLiteral("second\n"));
    QVERIFY(!pop.MessageCut());
    QCOMPARE(pop.State(), short(4));
    QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
}

QTEST_MAIN(TestPopScripted)
#include "tst_popscripted.moc"
