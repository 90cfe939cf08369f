// Whole roads through the real window against the suite's real Postfix and
// Dovecot: what the user types arrives in the mailbox as typed, and what
// waits in a mailbox shows message by message.
#include "guitest.h"
#include "mailform.h"
#include "statusbar.h"
#include "testsupport.h"
#include "tpop.h"
#include "tsmtp.h"
#include "updown.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using GuiTest::Find;

namespace {

QByteArray Normalised(QByteArray text)
{
    text.replace("\r\n", "\n");
    while (text.endsWith('\n'))
        text.chop(1);
    return text;
}

struct Window {
    std::unique_ptr<TMailForm> form = GuiTest::ShowForm();
    TSMTP *smtp = Find<TSMTP>(form.get(), "SMTP1");
    TPOP *pop = Find<TPOP>(form.get(), "POP1");

    void Page(int index) { Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(index); }
    void Type(const char *edit, const QString &text) { Find<QLineEdit>(form.get(), edit)->setText(text); }
    QString Status(const char *bar) { return Find<TStatusBar>(form.get(), bar)->text(); }

    void ConnectSmtp(const TestServers &servers)
    {
        Page(2);
        Type("eSMTPServer", QStringLiteral("127.0.0.1:%1").arg(servers.port("SMTP_PORT")));
        Type("eHomeAddr", QStringLiteral("alice@orvanta.test"));
        QTest::mouseClick(Find(form.get(), "SMTPConnectBtn"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(smtp->State(), short(4), 10000);
    }

    void Compose(const QString &to, const QString &cc, const QString &subject, const QString &text)
    {
        Page(0);
        Type("eTo", to);
        Type("eCC", cc);
        Type("eSubject", subject);
        Find<QTextEdit>(form.get(), "reMessageText")->setPlainText(text);
    }

    GuiTest::ModalLog Send()
    {
        Page(0);
        return GuiTest::WhileAnsweringModals([&] {
            QTest::mouseClick(Find(form.get(), "SendBtn"), Qt::LeftButton);
            // A second document may still be under way after the press
            // returns, and a box it raises belongs to this send.
            (void)QTest::qWaitFor([&] { return !smtp->Busy(); }, 20000);
        });
    }

    void Attach(const QString &file)
    {
        Page(0);
        GuiTest::WhileAnsweringModals([&] { Find<QCheckBox>(form.get(), "cbSendFile")->click(); },
                                      [&](QWidget *modal) {
                                          auto *dialog = qobject_cast<QFileDialog *>(modal);
                                          QVERIFY(dialog);
                                          // As a user would: type the path, then Open.
                                          auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
                                          QVERIFY(name);
                                          name->setText(file);
                                          static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
                                      });
    }

    void ConnectPop(const TestServers &servers, const QString &user, const QString &password)
    {
        Page(2);
        Type("ePOPServer", QStringLiteral("127.0.0.1:%1").arg(servers.port("POP_PORT")));
        Type("eUserName", user);
        Type("ePassword", password);
        QTest::mouseClick(Find(form.get(), "POPConnectBtn"), Qt::LeftButton);
    }
    QString View() { return Find<QPlainTextEdit>(form.get(), "mReadMessage")->toPlainText(); }
};

QString WriteFile(const QTemporaryDir &dir, const char *name, const QByteArray &content)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

const QRegularExpression kMessageId(
    QStringLiteral("^<Orvanta_Mail_\\d{8}T\\d{6}\\.\\d{3}_[0-9a-f]{8}_alice@orvanta\\.test>$"));

void CheckHeaders(const ParsedMessage &m, const QByteArray &to, const QByteArray &cc, const QByteArray &subject)
{
    QCOMPARE(m.header("To"), to);
    QCOMPARE(m.header("From"), QByteArray("alice@orvanta.test"));
    QCOMPARE(m.headersNamed("CC"), QList<QByteArray>{cc});
    QCOMPARE(m.header("Subject"), subject);
    QVERIFY2(kMessageId.match(QString::fromLatin1(m.header("Message-Id"))).hasMatch(), m.header("Message-Id"));
    QCOMPARE(m.header("Content-Type"), QByteArray("TEXT/PLAIN; charset=US-ASCII"));
    QCOMPARE(m.header("Return-Path"), QByteArray("<alice@orvanta.test>"));
}

} // namespace

class TestWindowRoad : public QObject {
    Q_OBJECT
    TestServers servers;

private slots:
    void initTestCase()
    {
        GuiTest::InitApp();
        servers = LoadTestServers();
        QVERIFY2(servers.ok, "the mail servers fixture did not start");
    }
    void init()
    {
        for (const char *user : {"alice", "bob", "carol"})
            EmptyMaildir(servers, QString::fromLatin1(user));
    }

    void sendsToOneRecipientAsTyped()
    {
        Window w;
        w.ConnectSmtp(servers);
        const QString text = QStringLiteral("Hello Bob,\n\n.\n..two dots\n.leading dot\nend");
        w.Compose("bob@orvanta.test", "", "Road one", text);
        GuiTest::ModalLog log = w.Send();
        QVERIFY2(log.texts.isEmpty(), qPrintable(log.texts.join('|')));
        QVERIFY(w.Status("SMTPStatus").startsWith(QStringLiteral("Mail sent to bob@orvanta.test (")));
        const QList<QByteArray> mail = MaildirMessages(servers, "bob", 1);
        QCOMPARE(mail.size(), 1);
        const ParsedMessage m = ParseMessage(mail[0]);
        CheckHeaders(m, "bob@orvanta.test", "", "Road one");
        QCOMPARE(m.headersNamed("Delivered-To"), QList<QByteArray>{"bob@orvanta.test"});
        QCOMPARE(Normalised(m.body), text.toUtf8());
    }

    void copyRecipientsGetTheirCopyAndOnlyTheCcHeader()
    {
        Window w;
        w.ConnectSmtp(servers);
        w.Compose("bob@orvanta.test", "carol@orvanta.test", "Road two", "Copy for Carol");
        QVERIFY(w.Send().texts.isEmpty());
        for (const char *user : {"bob", "carol"}) {
            const QList<QByteArray> mail = MaildirMessages(servers, user, 1);
            QCOMPARE(mail.size(), 1);
            const ParsedMessage m = ParseMessage(mail[0]);
            CheckHeaders(m, "bob@orvanta.test", "carol@orvanta.test", "Road two");
            QCOMPARE(m.header("Delivered-To"), QByteArray(user) + "@orvanta.test");
            QCOMPARE(Normalised(m.body), QByteArray("Copy for Carol"));
        }
    }

    void attachedFileFollowsAsASecondDocument()
    {
        QTemporaryDir dir;
        const QString path = WriteFile(dir, "report.txt", "Quarterly report\r\n.\r\nline after a dot\r\n");

        Window w;
        w.ConnectSmtp(servers);
        w.Compose("bob@orvanta.test", "", "With file", "See the file.");
        w.Attach(path);
        auto *attach = Find<QCheckBox>(w.form.get(), "cbSendFile");
        QVERIFY(attach->isChecked());
        QCOMPARE(attach->text(), QStringLiteral("&Attach Text File: ") + path);
        QVERIFY(w.Send().texts.isEmpty());
        const QList<QByteArray> mail = MaildirMessages(servers, "bob", 2);
        QCOMPARE(mail.size(), 2);
        const ParsedMessage first = ParseMessage(mail[0]);
        const ParsedMessage second = ParseMessage(mail[1]);
        CheckHeaders(first, "bob@orvanta.test", "", "With file");
        CheckHeaders(second, "bob@orvanta.test", "", "With file");
        QCOMPARE(Normalised(first.body), QByteArray("See the file."));
        QCOMPARE(Normalised(second.body), QByteArray("Quarterly report\n.\nline after a dot"));
        // Two documents, two identifiers: no receiver may drop one as a copy.
        QVERIFY(first.header("Message-Id") != second.header("Message-Id"));
        QVERIFY(w.Status("SMTPStatus").startsWith(QStringLiteral("Mail sent to bob@orvanta.test (")));
    }

    void afterClearTheCheckedBoxSendsNoFile()
    {
        QTemporaryDir dir;
        const QString path = WriteFile(dir, "a.txt", "file text\n");

        Window w;
        w.ConnectSmtp(servers);
        w.Attach(path);
        QTest::mouseClick(Find(w.form.get(), "ClearBtn"), Qt::LeftButton);
        QVERIFY(Find<QCheckBox>(w.form.get(), "cbSendFile")->isChecked());
        w.Compose("bob@orvanta.test", "", "After clear", "Only the text");
        GuiTest::ModalLog log = w.Send();
        // The text goes; the second document has no file to carry and fails
        // with a clear error instead of sending something empty.
        QCOMPARE(log.titles, QStringList{"Error"});
        QVERIFY2(log.texts.value(0).startsWith(QStringLiteral("1018 - ")), qPrintable(log.texts.value(0)));
        QCOMPARE(w.Status("SMTPStatus"), QStringLiteral("Transfer aborted"));
        const QList<QByteArray> mail = MaildirMessages(servers, "bob", 2, 1500);
        QCOMPARE(mail.size(), 1);
        QCOMPARE(Normalised(ParseMessage(mail[0]).body), QByteArray("Only the text"));
    }

    void readsTheMailboxMessageByMessage()
    {
        QVERIFY(SeedMaildir(servers, "alice",
                            {"From: one@orvanta.test\nSubject: First\n\nBody one\n",
                             "From: two@orvanta.test\nSubject: Second\n\nBody two\nmore\n",
                             "From: three@orvanta.test\nSubject: Third\n\nBody three\n"}));
        Window w;
        w.ConnectPop(servers, "alice", "alice-pw");
        QTRY_COMPARE_WITH_TIMEOUT(w.Status("POPStatus").left(18), QStringLiteral("Retrieval complete"), 10000);
        QCOMPARE(w.Status("ConnectStatus"),
                 QStringLiteral("User alice authorized on server 127.0.0.1:%1").arg(servers.port("POP_PORT")));
        QCOMPARE(Find<QLabel>(w.form.get(), "lMessageCount")->text(), QStringLiteral("3"));
        QCOMPARE(Find<QLineEdit>(w.form.get(), "eCurMessage")->text(), QStringLiteral("1"));
        QVERIFY(w.View().startsWith(QStringLiteral("From: one@orvanta.test\nSubject: First\n")));
        QVERIFY(w.View().endsWith(QStringLiteral("Body one\n")));
        QVERIFY(!Find<QLineEdit>(w.form.get(), "ePassword")->isEnabled());

        w.Page(1);
        auto *updown = Find<TUpDown>(w.form.get(), "udCurMessage");
        QVERIFY(updown->Step(TUDBtnType::btNext));
        QVERIFY(!w.View().contains(QStringLiteral("Body one"))); // emptied first
        QTRY_VERIFY(w.Status("POPStatus").startsWith(QStringLiteral("Retrieval complete")));
        QVERIFY(w.View().startsWith(QStringLiteral("From: two@orvanta.test\nSubject: Second\n")));
        QVERIFY(w.View().endsWith(QStringLiteral("Body two\nmore\n")));
        QVERIFY(updown->Step(TUDBtnType::btNext));
        QTRY_VERIFY(w.View().contains(QStringLiteral("Body three")));
        QTRY_VERIFY(!w.pop->Busy());
        QVERIFY(!updown->Step(TUDBtnType::btNext)); // the last message
        QCOMPARE(Find<QLineEdit>(w.form.get(), "eCurMessage")->text(), QStringLiteral("3"));

        // Disconnecting empties the view and unlocks the edits.
        w.Page(2);
        QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
        QCOMPARE(w.View(), QString());
        QTRY_COMPARE(w.pop->State(), short(6));
        QCOMPARE(w.Status("ConnectStatus"),
                 QStringLiteral("Disconnected from POP server: 127.0.0.1:%1").arg(servers.port("POP_PORT")));
        QVERIFY(Find<QLineEdit>(w.form.get(), "ePassword")->isEnabled());
    }

    void wrongPasswordCanBeCorrected()
    {
        QVERIFY(SeedMaildir(servers, "alice", {"Subject: Waiting\n\nHello\n"}));
        Window w;
        QString statusAtBox;
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals(
            [&] {
                w.ConnectPop(servers, "alice", "wrong");
                QTRY_COMPARE_WITH_TIMEOUT(w.pop->State(), short(6), 10000);
            },
            [&](QWidget *modal) {
                statusAtBox = w.Status("ConnectStatus");
                qobject_cast<QDialog *>(modal)->reject();
            });
        QCOMPARE(log.titles, QStringList{"Error"});
        QVERIFY2(log.texts.value(0).startsWith(QStringLiteral("1020 - ")), qPrintable(log.texts.value(0)));
        QCOMPARE(statusAtBox, QStringLiteral("Authorization error"));
        QVERIFY(w.form->PopFailed());

        w.Type("ePassword", QStringLiteral("alice-pw"));
        QTest::mouseClick(Find(w.form.get(), "POPConnectBtn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.View().contains(QStringLiteral("Hello")), 10000);
        QCOMPARE(w.pop->ProtocolState(), short(2));
    }

    // A server with a self-signed certificate: the window asks; Cancel ends
    // in the error box, trusting connects (cancel first: a trust is kept).
    void selfSignedCertificateIsPutToTheUser_data()
    {
        QTest::addColumn<bool>("trust");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("cancelled") << false << QStringList{"Certificate", "Error"};
        QTest::newRow("trusted") << true << QStringList{"Certificate"};
    }
    void selfSignedCertificateIsPutToTheUser()
    {
        QFETCH(bool, trust);
        Window w;
        w.Page(2);
        w.Type("eSMTPServer", servers.value("SELFSIGNED_HOST") + ':' + servers.value("SELFSIGNED_SMTP_PORT"));
        w.Type("eHomeAddr", QStringLiteral("alice@orvanta.test"));
        GuiTest::ModalLog log = GuiTest::WhileAnsweringModals(
            [&] {
                QTest::mouseClick(Find(w.form.get(), "SMTPConnectBtn"), Qt::LeftButton);
                QTRY_VERIFY_WITH_TIMEOUT(w.smtp->State() == 4 || w.smtp->State() == 6, 15000);
            },
            [&](QWidget *modal) {
                if (auto *button = modal->findChild<QPushButton *>(trust ? "TrustButton" : "CancelButton"))
                    button->click();
                else
                    qobject_cast<QDialog *>(modal)->reject();
            });
        QTEST(log.titles, "boxes");
        QCOMPARE(w.smtp->State(), short(trust ? 4 : 6));
        if (!trust)
            QVERIFY2(log.texts.value(1).startsWith(QStringLiteral("1031 - ")), qPrintable(log.texts.value(1)));
    }
};

ORV_GUITEST_MAIN_HANDOFF(TestWindowRoad, "bob@orvanta.test", "Handed-over text\n")
#include "tst_windowroad.moc"
