// Event handlers may open a modal box (a nested event loop) and call back
// into the control, even destroy it: the controls must stay consistent.
#include "docobjects.h"
#include "eoleexception.h"
#include "scriptserver.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {
const QStringList kSmtpSend{"S:220 test ESMTP",
                            "C:EHLO",
                            "S:250-test\r\n250-PIPELINING\r\n250 8BITMIME",
                            "C:MAIL",
                            "C:RCPT",
                            "S:250 ok",
                            "S:250 ok",
                            "C:DATA",
                            "S:354 go",
                            "D",
                            "S:250 queued",
                            "C:QUIT",
                            "S:221 bye",
                            "X"};

void NestedLoop(int ms = 30)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray BigBody()
{
    QByteArray body;
    for (int i = 0; i < 20000; ++i)
        body += "line " + QByteArray::number(i) + " of the body\r\n";
    return body;
}

QStringList PopScript(const QByteArray &body)
{
    QByteArray wire = "+OK\r\nSubject: x\r\n\r\n" + body + ".\r\n";
    QStringList script{"S:+OK ready", "C:USER", "S:+OK", "C:PASS", "S:+OK", "C:STAT", "S:+OK 1 100", "C:RETR 1"};
    // Many small writes, so that many data events come.
    for (qsizetype i = 0; i < wire.size(); i += 4096)
        script << "R:" + QString::fromLatin1(wire.mid(i, 4096));
    return script << "C:QUIT" << "S:+OK bye" << "X";
}
} // namespace

class TestReentrancy : public QObject {
    Q_OBJECT
private slots:
    void smtpNestedLoopInEveryEvent();
    void popNestedLoopInEveryEvent();
    void smtpQuitFromInsideAnEvent_data();
    void smtpQuitFromInsideAnEvent();
    void popQuitFromInsideAnEvent_data();
    void popQuitFromInsideAnEvent();
    void controlDestroyedAfterAnEvent();
    void handlerExceptionDoesNotEscape();
    void modalBoxLongerThanTheTimeoutKeepsTheSession();
};

void TestReentrancy::smtpNestedLoopInEveryEvent()
{
    ScriptServer server(kSmtpSend);
    TSMTP smtp;
    smtp.SetTimeout(5);
    QStringList events;
    connect(&smtp, &TSMTP::OnStateChanged, this, [&](short s) { events << QString::number(s); NestedLoop(); });
    connect(&smtp, &TSMTP::OnError, this, [&](short n, const QString &, bool &) {
        events << "error" + QString::number(n);
        NestedLoop();
    });
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) {
        if (doc->State() != 3 || events.last() != "doc3")
            events << "doc" + QString::number(doc->State());
        NestedLoop(5);
    });
    connect(&smtp, &TSMTP::OnVerify, this, [&] {
        NestedLoop();
        TDocHeaders &h = smtp.DocInput()->Headers();
        h.Clear();
        h.Add("To", "a@x.test");
        h.Add("From", "me@x.test");
        smtp.SendDoc(h, QString::fromLatin1(BigBody()), QString());
        NestedLoop();
    });
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    smtp.Verify("a@x.test");
    QTRY_VERIFY_WITH_TIMEOUT(!smtp.Busy() && events.contains("doc5"), 10000);
    QVERIFY(server.Data().endsWith("line 19999 of the body\r\n"));
    smtp.Quit();
    QTRY_COMPARE(smtp.State(), short(6));
    QCOMPARE(events, (QStringList{"1", "2", "3", "4", "doc1", "doc2", "doc3", "doc5", "5", "6"}));
}

void TestReentrancy::popNestedLoopInEveryEvent()
{
    const QByteArray body = BigBody();
    ScriptServer server(PopScript(body));
    TPOP pop;
    pop.SetTimeout(5);
    QString received;
    int dataEvents = 0;
    bool ended = false;
    connect(&pop, &TPOP::OnStateChanged, this, [&](short) { NestedLoop(); });
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        NestedLoop();
        if (s == 1)
            pop.Authenticate("alice", "pw");
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) {
        NestedLoop();
        pop.RetrieveMessage(1);
        NestedLoop();
    });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 3) {
            received += doc->GetData();
            ++dataEvents;
        }
        ended |= doc->State() == 5;
        NestedLoop(5);
    });
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
    QCOMPARE(received.toLatin1(), QByteArray(body).replace("\r\n", "\n"));
    QVERIFY(dataEvents > 1);
    QVERIFY(!pop.Busy());
    pop.Quit();
    QTRY_COMPARE(pop.State(), short(6));
}

void TestReentrancy::smtpQuitFromInsideAnEvent_data()
{
    QTest::addColumn<QString>("when");
    for (const char *when : {"state4", "doc1", "doc2", "doc3", "doc5", "error"})
        QTest::newRow(when) << QString::fromLatin1(when);
}

void TestReentrancy::smtpQuitFromInsideAnEvent()
{
    QFETCH(QString, when);
    QStringList script = kSmtpSend;
    if (when == "error")
        script = QStringList{"S:220 hi", "C:EHLO", "S:250 ok", "C:MAIL", "S:550 no", "C:RSET", "S:250 ok", "C:QUIT", "S:221", "X"};
    ScriptServer server(script);
    TSMTP smtp;
    smtp.SetTimeout(2);
    bool quitCalled = false;
    auto quitNow = [&](const QString &event) {
        if (event != when || quitCalled)
            return;
        quitCalled = true;
        smtp.Quit();
        NestedLoop();
        smtp.Quit(); // twice is harmless
    };
    connect(&smtp, &TSMTP::OnStateChanged, this, [&](short s) { quitNow("state" + QString::number(s)); });
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) { quitNow("doc" + QString::number(doc->State())); });
    connect(&smtp, &TSMTP::OnError, this,
            [&](short, const QString &, bool &) { quitNow("error"); });
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    if (when != "state4") {
        QTRY_COMPARE(smtp.State(), short(4));
        TDocHeaders &h = smtp.DocInput()->Headers();
        h.Clear();
        h.Add("To", "a@x.test");
        h.Add("From", "me@x.test");
        smtp.SendDoc(h, "text", QString());
    }
    QTRY_COMPARE_WITH_TIMEOUT(smtp.State(), short(6), 8000);
    QVERIFY(quitCalled);
    QVERIFY(!smtp.Busy());
    QVERIFY_THROWS_EXCEPTION(EOleException, smtp.SendDoc(std::nullopt, "x", QString()));
}

void TestReentrancy::popQuitFromInsideAnEvent_data()
{
    QTest::addColumn<QString>("when");
    for (const char *when : {"protocol1", "protocol2", "count", "doc1", "doc2", "doc3", "doc5"})
        QTest::newRow(when) << QString::fromLatin1(when);
}

void TestReentrancy::popQuitFromInsideAnEvent()
{
    QFETCH(QString, when);
    ScriptServer server(PopScript(BigBody()));
    TPOP pop;
    pop.SetTimeout(2);
    bool quitCalled = false;
    auto quitNow = [&](const QString &event) {
        if (event != when || quitCalled)
            return false;
        quitCalled = true;
        pop.Quit();
        NestedLoop();
        return true;
    };
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (!quitNow("protocol" + QString::number(s)) && s == 1)
            pop.Authenticate("alice", "pw");
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) {
        if (!quitNow("count"))
            pop.RetrieveMessage(1);
    });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) { quitNow("doc" + QString::number(doc->State())); });
    pop.SetRemoteHost(server.Host());
    pop.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(quitCalled && pop.State() == 6, 8000);
    QVERIFY(!pop.Busy());
    QCOMPARE(pop.ProtocolState(), short(0));
}

void TestReentrancy::controlDestroyedAfterAnEvent()
{
    // The window closing from inside an event: the control goes with
    // deleteLater, while its engine is in the middle of a message.
    ScriptServer server(PopScript(BigBody()));
    QPointer<TPOP> pop = new TPOP;
    connect(pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop->Authenticate("alice", "pw");
    });
    connect(pop, &TPOP::OnRefreshMessageCount, this, [&](qint32) { pop->RetrieveMessage(1); });
    connect(pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 3 && pop) {
            pop->deleteLater();
            NestedLoop();
        }
    });
    pop->SetRemoteHost(server.Host());
    pop->Connect();
    QTRY_VERIFY_WITH_TIMEOUT(pop.isNull(), 8000);
    NestedLoop(100); // the server side closes; nothing may call into the dead control
}

void TestReentrancy::handlerExceptionDoesNotEscape()
{
    // A handler that throws (as the window's may) must not unwind into the
    // engine or Qt: the sink gets it and the session goes on.
    QStringList caught;
    TInternetControl::SetHandlerErrorSink([&](const std::exception &e) { caught << QString::fromUtf8(e.what()); });
    ScriptServer server(kSmtpSend);
    TSMTP smtp;
    connect(&smtp, &TSMTP::OnStateChanged, this, [](short s) {
        if (s == 4)
            throw EOleException(EOleException::E_Fail, "handler failed");
    });
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    QCOMPARE(caught, QStringList{"handler failed"});
    TInternetControl::SetHandlerErrorSink(nullptr);
}

void TestReentrancy::modalBoxLongerThanTheTimeoutKeepsTheSession()
{
    // The user leaves a box open longer than Timeout while the server has
    // answered in time: that is no silent server.
    ScriptServer server({"S:220 hi", "C:EHLO", "S:250-hi\r\n250 PIPELINING", "C:MAIL", "C:RCPT", "S:250 ok", "S:550 unknown",
                         "C:RSET", "S:250 ok", "C:MAIL", "C:RCPT", "S:250 ok", "S:250 ok", "C:DATA", "S:354 go", "D",
                         "S:250 queued"});
    TSMTP smtp;
    smtp.SetTimeout(1);
    QList<short> errors;
    int ended = 0;
    connect(&smtp, &TSMTP::OnError, this, [&](short n, const QString &, bool &) {
        errors << n;
        NestedLoop(2500);
    });
    connect(&smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) {
        if (doc->State() == 3 && doc->BytesTransferred() < doc->BytesTotal())
            NestedLoop(2500); // a box in the middle of the body
        ended += doc->State() == 5;
    });
    smtp.SetRemoteHost(server.Host());
    smtp.Connect();
    QTRY_COMPARE(smtp.State(), short(4));
    auto send = [&] {
        TDocHeaders &h = smtp.DocInput()->Headers();
        h.Clear();
        h.Add("To", "a@x.test");
        h.Add("From", "me@x.test");
        smtp.SendDoc(h, QString::fromLatin1(BigBody()), QString());
    };
    send();
    QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 8000);
    QCOMPARE(errors, QList<short>{1013});
    QCOMPARE(smtp.State(), short(4));
    send();
    QTRY_COMPARE_WITH_TIMEOUT(ended, 2, 15000);
    QCOMPARE(errors, QList<short>{1013});
    QCOMPARE(smtp.State(), short(4));
    QVERIFY(server.Data().endsWith("line 19999 of the body\r\n"));
}

QTEST_MAIN(TestReentrancy)
#include "tst_reentrancy.moc"
