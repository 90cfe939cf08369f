// The POP side of the window: the Connect button's rule, the message count,
// browsing, and how retrieved documents show, against scripted servers.
#include "guitest.h"
#include "label.h"
#include "mailform.h"
#include "progresstexts.h"
#include "scriptserver.h"
#include "statusbar.h"
#include "tpop.h"
#include "updown.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

using GuiTest::Find;

namespace {

QStringList Login(int count)
{
    return {"S:+OK ready", "C:USER alice", "S:+OK", "C:PASS pw", "S:+OK in", "C:STAT",
            QStringLiteral("S:+OK %1 %2").arg(count).arg(count * 100)};
}

struct Window {
    std::unique_ptr<TMailForm> form = GuiTest::ShowForm();
    TPOP *pop = Find<TPOP>(form.get(), "POP1");
    TUpDown *updown = Find<TUpDown>(form.get(), "udCurMessage");
    QPlainTextEdit *view = Find<QPlainTextEdit>(form.get(), "mReadMessage");

    Window() { pop->SetTimeout(1); }
    void Connect(const QString &host)
    {
        Find<QLineEdit>(form.get(), "ePOPServer")->setText(host);
        Find<QLineEdit>(form.get(), "eUserName")->setText(QStringLiteral("alice"));
        Find<QLineEdit>(form.get(), "ePassword")->setText(QStringLiteral("pw"));
        QTest::mouseClick(Find(form.get(), "POPConnectBtn"), Qt::LeftButton);
    }
    QString Status(const char *bar) { return Find<TStatusBar>(form.get(), bar)->text(); }
    QString Count() { return Find<QLabel>(form.get(), "lMessageCount")->text(); }
};

} // namespace

class TestPopWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void connectButtonNeedsAllThreeEdits_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("all three") << "pop.x" << "alice" << "pw" << true;
        QTest::newRow("no password") << "pop.x" << "alice" << "" << false;
        QTest::newRow("no user") << "pop.x" << "" << "pw" << false;
        QTest::newRow("no server") << "" << "alice" << "pw" << false;
    }
    void connectButtonNeedsAllThreeEdits()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, enabled);
        Window w;
        for (const char *edit : {"ePOPServer", "eUserName", "ePassword"})
            Find<QLineEdit>(w.form.get(), edit)->setText(QStringLiteral("x"));
        Find<QLineEdit>(w.form.get(), "ePOPServer")->setText(server);
        Find<QLineEdit>(w.form.get(), "eUserName")->setText(user);
        Find<QLineEdit>(w.form.get(), "ePassword")->setText(password);
        QCOMPARE(Find(w.form.get(), "POPConnectBtn")->isEnabled(), enabled);
    }

    void loginShowsStatesAndTheAuthorizedUser()
    {
        ScriptServer server(Login(0) + QStringList{"C:QUIT", "S:+OK bye", "X"});
        Window w;
        QStringList texts;
        connect(w.pop, &TPOP::OnStateChanged, this, [&] { texts << w.Status("ConnectStatus"); });
        w.Connect(server.Host());
        QTRY_COMPARE(w.pop->ProtocolState(), short(2));
        const QString host = server.Host();
        QCOMPARE(texts, (QStringList{"Connecting to POP server: " + host + "...", "Resolving Host",
                                     "Host Resolved", "Connected to POP server: " + host}));
        // After login the edits' current texts are shown, whatever the
        // control was given.
        QCOMPARE(w.Status("ConnectStatus"), "User alice authorized on server " + host);
        QCOMPARE(Find<QAbstractButton>(w.form.get(), "POPConnectBtn")->text(), QStringLiteral("Disconnect"));
        QVERIFY(!Find(w.form.get(), "ePassword")->isEnabled());
        // An empty mailbox: nothing to browse, nothing retrieved.
        QCOMPARE(w.Count(), QStringLiteral("0"));
        QVERIFY(!w.updown->isEnabled());
        QVERIFY(!server.ClientLines().contains(QStringLiteral("RETR 1")));

        w.view->setPlainText(QStringLiteral("left over"));
        QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
        QCOMPARE(w.view->toPlainText(), QString()); // emptied before the quit
        QTRY_COMPARE(w.pop->State(), short(6));
        QCOMPARE(w.Status("ConnectStatus"), "Disconnected from POP server: " + host);
        QVERIFY(Find(w.form.get(), "ePassword")->isEnabled());
    }

    void passwordIsTakenWhenConnectIsPressed()
    {
        ScriptServer server(Login(0) + QStringList{"Z"});
        Window w;
        w.Connect(server.Host());
        // Typed while connecting: too late for this login.
        Find<QLineEdit>(w.form.get(), "ePassword")->setText(QStringLiteral("other"));
        Find<QLineEdit>(w.form.get(), "eUserName")->setText(QStringLiteral("bob"));
        QTRY_COMPARE(w.pop->ProtocolState(), short(2));
        QVERIFY(server.ClientLines().contains(QStringLiteral("PASS pw")));
        QCOMPARE(w.Status("ConnectStatus"), "User bob authorized on server " + server.Host());
    }

    void clickDuringAuthorizationChangesNothing()
    {
        ScriptServer server({"S:+OK ready", "C:USER alice", "Z"});
        Window w;
        w.pop->SetTimeout(5);
        w.Connect(server.Host());
        QTRY_COMPARE(w.pop->State(), short(4));
        QTRY_VERIFY(server.ClientLines().contains(QStringLiteral("USER alice")));
        QCOMPARE(w.pop->ProtocolState(), short(1));
        w.view->setPlainText(QStringLiteral("kept"));
        QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(w.pop->State(), short(4));
        QCOMPARE(w.view->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(server.ClientLines(), QStringList{"USER alice"});
        QCOMPARE(server.Connections(), 1);
    }

    void firstMessageShowsAtOnceAndADropAbortsIt()
    {
        ScriptServer server(Login(2) + QStringList{"C:RETR 1", "S:+OK", "R:Subject: Hi\r\nFrom: a@b\r\n\r\npartial bo", "X"});
        Window w;
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals([&] {
            w.Connect(server.Host());
            QTRY_COMPARE(w.pop->State(), short(6));
        });
        QCOMPARE(w.Count(), QStringLiteral("2"));
        QCOMPARE(Find<QLineEdit>(w.form.get(), "eCurMessage")->text(), QStringLiteral("1"));
        QCOMPARE(log.titles, QStringList{"Error"});
        QVERIFY2(log.texts.value(0).startsWith(QStringLiteral("1004 - ")), qPrintable(log.texts.value(0)));
        QCOMPARE(w.Status("POPStatus"), QStringLiteral("Transfer aborted"));
        QVERIFY(w.view->toPlainText().startsWith(QStringLiteral("Subject: Hi\nFrom: a@b\n")));
        QVERIFY(w.form->PopFailed());

        // The session is gone: stepping moves the number but fetches nothing.
        const QString kept = w.view->toPlainText();
        QVERIFY(w.updown->isEnabled());
        QVERIFY(w.updown->Step(TUDBtnType::btNext));
        QCOMPARE(Find<QLineEdit>(w.form.get(), "eCurMessage")->text(), QStringLiteral("2"));
        QCOMPARE(w.view->toPlainText(), kept);
    }

    void chunksJoinAndHeadersListInOrder()
    {
        Window w;
        w.view->setPlainText(QString());
        TDocOutput doc;
        doc.EditHeaders().Add(QStringLiteral("Subject"), QStringLiteral("Two chunks"));
        doc.EditHeaders().Add(QStringLiteral("From"), QStringLiteral("x@y.test"));
        QStringList statuses;
        auto step = [&](short state, qint32 bytes, const QString &data = QString()) {
            doc.SetProgress(DocState(state), bytes, data);
            emit w.pop->OnDocOutput(&doc);
            statuses << w.Status("POPStatus");
        };
        step(1, 0);
        step(2, 0);
        step(3, 9, QStringLiteral("first\nha"));
        step(3, 20, QStringLiteral("lf\nsecond"));
        step(5, 20);
        QCOMPARE(w.view->toPlainText(), QStringLiteral("Subject: Two chunks\nFrom: x@y.test\nfirst\nhalf\nsecond"));
        QCOMPARE(statuses, (QStringList{"Initiating document transfer", "Retrieving headers",
                                        "Retrieving data - 9 bytes", "Retrieving data - 20 bytes",
                                        "Retrieval complete (20 bytes data)"}));
    }

    void messageCounts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("max");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << 0 << 0 << false << "0";
        QTest::newRow("negative") << -3 << -3 << true << "-3";
        QTest::newRow("far below") << -70000 << -32768 << true << "-70000";
    }
    void messageCounts()
    {
        QFETCH(int, count);
        QFETCH(int, max);
        QFETCH(bool, enabled);
        QFETCH(QString, shown);
        Window w;
        // Counts that retrieve nothing need no session; positive ones are
        // covered with a server below.
        emit w.pop->OnRefreshMessageCount(count);
        QCOMPARE(int(w.updown->Max()), max);
        QCOMPARE(w.updown->isEnabled(), enabled);
        QCOMPARE(w.Count(), shown);
        QCOMPARE(int(w.updown->Min()), 0); // the earlier minimum stays
    }

    // Beyond the up-down's 16-bit range: browsable up to 32767, while the
    // label still tells the truth.
    void hugeMailboxBrowsesWithinTheUpDown()
    {
        ScriptServer server(Login(40000) + QStringList{"C:RETR 1", "S:+OK", "S:Subject: one", "S:", "S:body", "S:.", "Z"});
        Window w;
        w.Connect(server.Host());
        QTRY_VERIFY(w.Status("POPStatus").startsWith(QStringLiteral("Retrieval complete")));
        QCOMPARE(w.Count(), QStringLiteral("40000"));
        QCOMPARE(int(w.updown->Max()), 32767);
        QCOMPARE(int(w.updown->Position()), 1);
        QVERIFY(w.view->toPlainText().startsWith(QStringLiteral("Subject: one\n")));
    }

    // A server that trickles a message must not keep the user from
    // leaving: Disconnect ends the transfer as aborted.
    void disconnectEndsAMessageStillArriving()
    {
        ScriptServer server(Login(1) + QStringList{"C:RETR 1", "S:+OK", "S:Subject: slow", "S:",
                                                   "DRIP:1/200:" + QString(1000, QLatin1Char('x'))});
        Window w;
        w.pop->SetTimeout(60);
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals([&] {
            w.Connect(server.Host());
            QTRY_VERIFY(w.view->toPlainText().startsWith(QStringLiteral("Subject: slow")));
            QVERIFY(w.pop->Busy());
            QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
            QTRY_COMPARE(w.pop->State(), short(6));
        });
        QCOMPARE(log.texts.size(), 1);
        QVERIFY2(log.texts[0].startsWith(QStringLiteral("1007 - ")), qPrintable(log.texts[0]));
        QCOMPARE(w.Status("POPStatus"), QStringLiteral("Transfer aborted")); // the error came before the end
        QVERIFY(server.Dripped() < 1000);
    }

    // Stepping while a message arrives: the rest of it is not shown, and
    // the message the number names follows once it is over.
    void steppingMidTransferShowsOnlyTheMessageNamed()
    {
        ScriptServer server(Login(2) + QStringList{"C:RETR 1", "S:+OK", "S:Subject: one", "S:", "S:first of one"});
        Window w;
        w.pop->SetTimeout(30);
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals([&] {
            w.Connect(server.Host());
            QTRY_VERIFY(w.view->toPlainText().contains(QStringLiteral("first of one")));
            QVERIFY(w.updown->Step(TUDBtnType::btNext));
            QCOMPARE(w.view->toPlainText(), QString());
            server.Append({"S:rest of one", "S:.", "C:RETR 2", "S:+OK", "S:Subject: two", "S:", "S:body of two",
                           "S:.", "Z"});
            QTRY_VERIFY(w.Status("POPStatus").startsWith(QStringLiteral("Retrieval complete")));
        });
        QCOMPARE(log.texts, QStringList());
        QCOMPARE(Find<QLineEdit>(w.form.get(), "eCurMessage")->text(), QStringLiteral("2"));
        QCOMPARE(w.view->toPlainText(), QStringLiteral("Subject: two\nbody of two\n"));
        QVERIFY2(server.Failure().isEmpty(), qPrintable(server.Failure()));
    }

    // The view holds a bounded text however long the message: it says
    // where it stops, and so does the status bar.
    void longMessageIsCutInViewAndStatus()
    {
        const QString line = QString(99, QLatin1Char('z')) + QStringLiteral("\r\n");
        const QString body = line.repeated(pop::kMaxMessageChars / 100 + 1000);
        ScriptServer server(Login(1) + QStringList{"C:RETR 1", "S:+OK", "S:Subject: big", "S:", "R:" + body, "S:.", "Z"});
        Window w;
        w.pop->SetTimeout(30);
        w.Connect(server.Host());
        QTRY_VERIFY_WITH_TIMEOUT(w.Status("POPStatus").startsWith(QStringLiteral("Retrieval complete")), 60000);
        QCOMPARE(w.Status("POPStatus"), QStringLiteral("Retrieval complete (%1 bytes data) - the rest of the message "
                                                       "is not shown")
                                            .arg(body.size()));
        const QString shown = w.view->toPlainText();
        QVERIFY(shown.size() < pop::kMaxMessageChars + 200);
        QVERIFY(shown.endsWith(
            QStringLiteral("z\n[The rest of this message is not shown: its text is longer than 16 million characters]\n")));
    }

    // A failure in one session neither makes the next one's first message
    // read as aborted nor leaves its text above that message.
    void nextSessionShowsItsFirstMessageAlone()
    {
        ScriptServer server(Login(1) + QStringList{"C:RETR 1", "S:+OK", "S:Subject: cut", "S:", "S:partial", "X"} + Login(1)
                            + QStringList{"C:RETR 1", "S:+OK", "S:Subject: whole", "S:", "S:body", "S:.", "Z"});
        Window w;
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals([&] {
            w.Connect(server.Host());
            QTRY_COMPARE(w.pop->State(), short(6));
            QTRY_COMPARE(w.Status("POPStatus"), QStringLiteral("Transfer aborted"));
            QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
            QTRY_VERIFY(w.view->toPlainText().contains(QStringLiteral("body")));
        });
        QCOMPARE(log.texts.size(), 1);
        QTRY_VERIFY(w.Status("POPStatus").startsWith(QStringLiteral("Retrieval complete")));
        QCOMPARE(w.view->toPlainText(), QStringLiteral("Subject: whole\nbody\n"));
    }

    void retrieveProgressTexts()
    {
        QCOMPARE(RetrieveProgressText(5, 7, true, "x"), QStringLiteral("Transfer aborted"));
        QCOMPARE(RetrieveProgressText(4, 7, false, "x"), QStringLiteral("x"));
    }
};

QTEST_MAIN(TestPopWindow)
#include "tst_popwindow.moc"
