// The SMTP side of the window against scripted servers: session states on
// the Connect To page, the error box, and the send's progress and failures.
#include "guitest.h"
#include "mailform.h"
#include "progresstexts.h"
#include "scriptserver.h"
#include "statusbar.h"
#include "tpop.h"
#include "tsmtp.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

using GuiTest::Find;

namespace {

const QStringList kHello{"S:220 test ESMTP", "C:EHLO", "S:250-test\r\n250 8BITMIME"};
const QStringList kSendStart{"C:MAIL FROM:<me@orvanta.test>", "S:250 ok", "C:RCPT TO:<bob@orvanta.test>", "S:250 ok"};

struct Window {
    std::unique_ptr<TMailForm> form = GuiTest::ShowForm();
    TSMTP *smtp = Find<TSMTP>(form.get(), "SMTP1");
    QLineEdit *server = Find<QLineEdit>(form.get(), "eSMTPServer");
    QLineEdit *home = Find<QLineEdit>(form.get(), "eHomeAddr");
    QAbstractButton *connect = Find<QAbstractButton>(form.get(), "SMTPConnectBtn");
    TStatusBar *status = Find<TStatusBar>(form.get(), "ConnectStatus");
    TStatusBar *sendStatus = Find<TStatusBar>(form.get(), "SMTPStatus");
    QWidget *led = Find(form.get(), "LedImage");

    Window() { smtp->SetTimeout(1); }

    void ConnectTo(const QString &host)
    {
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(2);
        server->setText(host);
        home->setText(QStringLiteral("me@orvanta.test"));
        QTest::mouseClick(connect, Qt::LeftButton);
    }

    GuiTest::ModalLog Send()
    {
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(0);
        return GuiTest::WhileAnsweringModals(
            [&] { QTest::mouseClick(Find(form.get(), "SendBtn"), Qt::LeftButton); });
    }
};

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

class TestSmtpWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void connectButtonFollowsBothEdits_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("both") << "mail.example.org" << "me@example.org" << true;
        QTest::newRow("no server") << "" << "me@example.org" << false;
        QTest::newRow("no address") << "mail.example.org" << "" << false;
        QTest::newRow("blank server counts as text") << " " << "me@example.org" << true;
    }
    void connectButtonFollowsBothEdits()
    {
        QFETCH(QString, server);
        QFETCH(QString, address);
        QFETCH(bool, enabled);
        Window w;
        w.server->setText(QStringLiteral("x"));
        w.home->setText(QStringLiteral("y"));
        w.server->setText(server);
        w.home->setText(address);
        QCOMPARE(w.connect->isEnabled(), enabled);
    }

    void sessionStatesShowOnTheWindow()
    {
        ScriptServer server(kHello + QStringList{"C:QUIT", "S:221 bye", "X"});
        Window w;
        QStringList texts;
        connect(w.smtp, &TSMTP::OnStateChanged, this, [&] { texts << w.status->text(); });
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        const QString host = server.Host();
        QCOMPARE(texts, (QStringList{"Connecting to SMTP server: " + host + "...", "Resolving Host",
                                     "Host Resolved", "Connected to SMTP server: " + host}));
        QCOMPARE(w.connect->text(), QStringLiteral("Disconnect"));
        QVERIFY(!w.server->isEnabled() && !w.home->isEnabled());
        QVERIFY(!w.led->isHidden());

        texts.clear();
        QTest::mouseClick(w.connect, Qt::LeftButton);
        QTRY_COMPARE(w.smtp->State(), short(6));
        QCOMPARE(texts, (QStringList{"Disconnecting from SMTP server: " + host + "...",
                                     "Disconnected from SMTP server: " + host}));
        QCOMPARE(w.connect->text(), QStringLiteral("Connect"));
        QVERIFY(w.server->isEnabled() && w.home->isEnabled());
        QVERIFY(w.led->isHidden());
    }

    void clickWhileConnectingChangesNothing()
    {
        ScriptServer server({"Z"}); // accepts, never greets
        Window w;
        w.smtp->SetTimeout(5);
        w.ConnectTo(server.Host());
        QTRY_COMPARE(server.Connections(), 1);
        const short state = w.smtp->State();
        QVERIFY(state >= 1 && state <= 3);
        const QString shown = w.status->text();
        QTest::mouseClick(w.connect, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(w.smtp->State(), state);
        QCOMPARE(w.status->text(), shown);
        QCOMPARE(server.Connections(), 1);
    }

    void stateOutsideTheTableOnlyUnlocks()
    {
        ScriptServer server(kHello + QStringList{"Z"});
        Window w;
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        const QString shown = w.status->text();
        emit w.smtp->OnStateChanged(7);
        QCOMPARE(w.status->text(), shown);
        QVERIFY(w.server->isEnabled() && w.home->isEnabled());
        QVERIFY(w.led->isHidden());
    }

    void nothingListeningGivesTheDialUpText()
    {
        Window w;
        const QString host = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals([&] {
            w.ConnectTo(host);
            QTRY_COMPARE(w.smtp->State(), short(6));
        });
        QCOMPARE(log.titles, QStringList{"Error"});
        QCOMPARE(log.texts, QStringList{"Could not establish a connection: Check for dial-up errors."});
        QVERIFY(w.form->SmtpFailed());
        QVERIFY(w.led->isHidden());
        QCOMPARE(w.status->text(), "Disconnected from SMTP server: " + host);
    }

    void sendWhileDisconnectedSaysSo()
    {
        Window w;
        GuiTest::ModalLog log = w.Send();
        QCOMPARE(log.texts, QStringList{"Not connected to SMTP server"});
        QCOMPARE(log.titles, QStringList{"Error"});
    }

    void badAddressIsReportedWithoutSending()
    {
        ScriptServer server(kHello + QStringList{"Z"});
        Window w;
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        Find<QLineEdit>(w.form.get(), "eTo")->setText(QStringLiteral("not an address"));
        GuiTest::ModalLog log = w.Send();
        QCOMPARE(log.texts, QStringList{"Incorrect address format"});
        QVERIFY(!w.form->AddressVerified());
        QCOMPARE(w.sendStatus->text(), QString());
    }

    void failedSendsAreReportedAndAborted_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("stillConnected");
        QTest::newRow("recipient refused")
            << (kHello + QStringList{"C:MAIL FROM:<me@orvanta.test>", "S:250 ok", "C:RCPT TO:<bob@orvanta.test>",
                                     "S:550 5.1.1 <bob@orvanta.test>: Recipient address rejected",
                                     "C:RSET", "S:250 ok", "Z"})
            << "1013 - 5.1.1 <bob@orvanta.test>: Recipient address rejected"
               "(550 5.1.1 <bob@orvanta.test>: Recipient address rejected)"
            << true;
        QTest::newRow("5xx at end of data")
            << (kHello + kSendStart + QStringList{"C:DATA", "S:354 go", "D", "S:554 5.7.1 rejected by policy",
                                                  "C:RSET", "S:250 ok", "Z"})
            << "1015 - 5.7.1 rejected by policy(554 5.7.1 rejected by policy)" << true;
        // Every line of a multi-line refusal is shown, one per line.
        QTest::newRow("multi-line refusal")
            << (kHello + kSendStart + QStringList{"C:DATA", "S:354 go", "D",
                                                  "S:552-5.3.4 message too big\r\n552 5.3.4 try smaller",
                                                  "C:RSET", "S:250 ok", "Z"})
            << "1015 - 5.3.4 message too big 5.3.4 try smaller(552-5.3.4 message too big)\n"
               "(552 5.3.4 try smaller)"
            << true;
        QTest::newRow("connection dropped mid-send")
            << (kHello + kSendStart + QStringList{"C:DATA", "S:354 go", "X"}) << "" << false;
    }
    void failedSendsAreReportedAndAborted()
    {
        QFETCH(QStringList, script);
        QFETCH(QString, box);
        QFETCH(bool, stillConnected);
        ScriptServer server(script);
        Window w;
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        QVERIFY(!w.led->isHidden());
        GuiTest::ModalLog log = w.Send();
        QCOMPARE(log.titles, QStringList{"Error"});
        if (!box.isEmpty())
            QCOMPARE(log.texts.value(0), box);
        else
            QVERIFY(log.texts.value(0).startsWith(QStringLiteral("1004 - ")));
        QCOMPARE(w.sendStatus->text(), QStringLiteral("Transfer aborted"));
        QVERIFY(w.led->isHidden()); // hidden by the error even while connected
        QCOMPARE(w.smtp->State() == 4, stillConnected);
    }

    void progressTexts_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("done");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("text");
        QTest::newRow("begin") << 1 << 0 << 0 << false << "Initiating document transfer";
        QTest::newRow("headers") << 2 << 0 << 0 << false << "Sending headers";
        QTest::newRow("total 0") << 3 << 0 << 10 << false << "Sending...";
        QTest::newRow("50 of 200") << 3 << 200 << 50 << false << "Sending data: 50 of 200 bytes (25%)";
        QTest::newRow("1 of 3") << 3 << 3 << 1 << false << "Sending data: 1 of 3 bytes (33%)";
        QTest::newRow("2 of 3") << 3 << 3 << 2 << false << "Sending data: 2 of 3 bytes (66%)";
        QTest::newRow("29 of 100") << 3 << 100 << 29 << false << "Sending data: 29 of 100 bytes (29%)";
        QTest::newRow("2 GB") << 3 << 2000000000 << 1999999999 << false
                              << "Sending data: 1999999999 of 2000000000 bytes (99%)";
        QTest::newRow("sent") << 5 << 10 << 10 << false << "Mail sent to a@b.test (10 bytes data)";
        QTest::newRow("aborted") << 5 << 10 << 4 << true << "Transfer aborted";
        QTest::newRow("other state") << 4 << 10 << 4 << false << "unchanged";
    }
    void progressTexts()
    {
        QFETCH(int, state);
        QFETCH(int, total);
        QFETCH(int, done);
        QFETCH(bool, failed);
        QFETCH(QString, text);
        QCOMPARE(SendProgressText(short(state), total, done, failed, "a@b.test", "unchanged"), text);
    }

    void secondSendWhileWaitingLeavesTheFirstIntact()
    {
        ScriptServer server(kHello + kSendStart +
                            QStringList{"C:DATA", "S:354 go", "D", "S:250 queued", "Z"});
        Window w;
        w.smtp->SetTimeout(5);
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        // Press Send again from inside the first press's wait.
        bool pressed = false;
        connect(w.smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) {
            if (doc->State() == 3 && !pressed) {
                pressed = true;
                QTest::mouseClick(Find(w.form.get(), "SendBtn"), Qt::LeftButton);
            }
        });
        GuiTest::ModalLog log = w.Send();
        QVERIFY(pressed);
        // The nested press is ignored; the first document goes out whole and
        // is reported as sent.
        QVERIFY2(log.titles.isEmpty(), qPrintable(log.titles.join("|") + " / " + log.texts.join("|")));
        QTRY_VERIFY(w.sendStatus->text().startsWith(QStringLiteral("Mail sent to bob@orvanta.test")));
        QVERIFY(server.Data().contains("Subject: Via Orvanta"));
    }

    void disconnectDuringTheTransferIsNoSend()
    {
        // The server takes the data slowly; the user turns to Connect To and
        // presses Disconnect while Send still waits. The message never
        // arrived, so it must not read as sent.
        ScriptServer server(kHello + kSendStart + QStringList{"C:DATA", "S:354 go", "SLOW"});
        Window w;
        w.smtp->SetTimeout(5);
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        QTimer::singleShot(300, this, [&] {
            Find<QTabWidget>(w.form.get(), "PageControl1")->setCurrentIndex(2);
            QTest::mouseClick(w.connect, Qt::LeftButton);
        });
        const GuiTest::ModalLog log = w.Send();
        QCOMPARE(w.sendStatus->text(), QStringLiteral("Transfer aborted"));
        QCOMPARE(log.titles, QStringList{"Error"});
        QVERIFY2(log.texts.value(0).startsWith(QStringLiteral("1007 - The message was not sent")),
                 qPrintable(log.texts.join('|')));
        QTRY_COMPARE(w.smtp->State(), short(6));
        QVERIFY(w.form->SmtpFailed());
    }

    void closingWhileWaitingEndsQuietly()
    {
        ScriptServer server(kHello + kSendStart + QStringList{"C:DATA", "S:354 go", "Z"});
        Window w;
        w.smtp->SetTimeout(5);
        w.ConnectTo(server.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        connect(w.smtp, &TSMTP::OnDocInput, this, [&](TDocInput *doc) {
            if (doc->State() == 3)
                w.form->close();
        });
        GuiTest::ModalLog log = w.Send();
        QVERIFY(!w.form->isVisible());
        QVERIFY2(!log.texts.contains(QStringLiteral("Incorrect address format")), qPrintable(log.texts.join('|')));
        QTRY_COMPARE(w.smtp->State(), short(6));
        QVERIFY(!w.smtp->Busy());
    }

    void closeQuitsPopBeforeSmtp()
    {
        ScriptServer smtpServer(kHello + QStringList{"C:QUIT", "S:221 bye", "X"});
        ScriptServer popServer({"S:+OK ready", "C:USER alice", "S:+OK", "C:PASS pw", "S:+OK in", "C:STAT",
                                "S:+OK 0 0", "C:QUIT", "S:+OK bye", "X"});
        Window w;
        w.ConnectTo(smtpServer.Host());
        QTRY_COMPARE(w.smtp->State(), short(4));
        Find<QLineEdit>(w.form.get(), "ePOPServer")->setText(popServer.Host());
        Find<QLineEdit>(w.form.get(), "eUserName")->setText(QStringLiteral("alice"));
        Find<QLineEdit>(w.form.get(), "ePassword")->setText(QStringLiteral("pw"));
        auto *pop = Find<TPOP>(w.form.get(), "POP1");
        QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
        QTRY_COMPARE(pop->ProtocolState(), short(2));
        QStringList order;
        connect(pop, &TPOP::OnStateChanged, this, [&](short s) { order << QStringLiteral("pop %1").arg(s); });
        connect(w.smtp, &TSMTP::OnStateChanged, this, [&](short s) { order << QStringLiteral("smtp %1").arg(s); });
        QTest::mouseClick(Find(w.form.get(), "BitBtn1"), Qt::LeftButton);
        QVERIFY(!w.form->isVisible());
        QVERIFY2(order.indexOf("pop 5") >= 0 && order.indexOf("smtp 5") > order.indexOf("pop 5"),
                 qPrintable(order.join(',')));
        QTRY_VERIFY(popServer.ClientLines().contains(QStringLiteral("QUIT")));
        QTRY_VERIFY(smtpServer.ClientLines().contains(QStringLiteral("QUIT")));
    }
};

ORV_GUITEST_MAIN_HANDOFF(TestSmtpWindow, "bob@orvanta.test", "Hello from the host\n")
#include "tst_smtpwindow.moc"
