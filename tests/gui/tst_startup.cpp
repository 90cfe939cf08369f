// Start-up as a host program runs it: a settings file in the working folder
// and a "recipient,file" argument. Each case starts a fresh process (this
// test binary in its child role, which builds the real window) and reads
// back what the window shows.
#include "guitest.h"
#include "label.h"
#include "mailform.h"
#include "statusbar.h"
#include "testsupport.h"
#include "tsmtp.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <sys/resource.h>
#include <csignal>

using GuiTest::Find;

namespace {

// ---- child role: build the window, report, optionally press Send --------

QByteArray Escaped(const QString &text)
{
    return text.toUtf8().toPercentEncoding(" :/@,<>()-_.!'");
}

int RunChild(int argc, char *argv[])
{
    // argv: self --child WORKDIR SEND(0|1) [ARGUMENT]
    QDir::setCurrent(QString::fromLocal8Bit(argv[2]));
    const bool pressSend = QByteArray(argv[3]) == "1";
    int appArgc = argc > 4 ? 2 : 1;
    char *appArgv[] = {argv[0], argc > 4 ? argv[4] : nullptr, nullptr};
    QApplication app(appArgc, appArgv);
    GuiTest::InitApp();
    QStringList boxes;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->windowTitle() + QStringLiteral(": ") + box->text();
            box->reject();
        }
    });
    answer.start(10);

    TMailForm form;
    form.show();
    auto *smtp = Find<TSMTP>(&form, "SMTP1");
    (void)QTest::qWaitFor([&] { return smtp->State() == 4 || smtp->State() == 6; }, 5000);
    QTest::qWait(50);
    bool closed = false;
    if (pressSend) {
        QTest::mouseClick(Find(&form, "SendBtn"), Qt::LeftButton);
        QTest::qWait(50);
        closed = !form.isVisible();
    }
    auto edit = [&](const char *name) { return Find<QLineEdit>(&form, name)->text(); };
    QTextStream out(stdout);
    out << "eTo=" << Escaped(edit("eTo")) << '\n'
        << "eSMTPServer=" << Escaped(edit("eSMTPServer")) << '\n'
        << "eHomeAddr=" << Escaped(edit("eHomeAddr")) << '\n'
        << "ePOPServer=" << Escaped(edit("ePOPServer")) << '\n'
        << "eUserName=" << Escaped(edit("eUserName")) << '\n'
        << "eSubject=" << Escaped(edit("eSubject")) << '\n'
        << "POPConnectBtn=" << Find(&form, "POPConnectBtn")->isEnabled() << '\n'
        << "text=" << Escaped(Find<QTextEdit>(&form, "reMessageText")->toPlainText()) << '\n'
        << "bold=" << Find<QTextEdit>(&form, "reMessageText")->document()->toHtml().contains("font-weight:700") << '\n'
        << "MessageFileArg=" << Escaped(form.GetMessageFileArg()) << '\n'
        << "smtpState=" << smtp->State() << '\n'
        << "ConnectStatus=" << Escaped(Find<TStatusBar>(&form, "ConnectStatus")->text()) << '\n'
        << "boxes=" << Escaped(boxes.join('|')) << '\n'
        << "urls=" << Escaped([] {
               QStringList urls;
               for (const QUrl &url : GuiTest::OpenedUrls())
                   urls << url.toString();
               return urls.join('|');
           }()) << '\n'
        << "closed=" << closed << '\n'
        << "visibleAfterCreate=1\n";
    return 0;
}

// ---- parent role --------------------------------------------------------

struct Start {
    QMap<QString, QString> shown;
    QString operator[](const char *key) const { return shown.value(QString::fromLatin1(key)); }
};

Start Run(const QString &dir, const QStringList &argument, bool pressSend = false)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(QStringList{"--child", dir, pressSend ? "1" : "0"} + argument);
    child.start();
    child.waitForFinished(60000);
    Start start;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            start.shown.insert(QString::fromLatin1(line.left(eq)),
                               QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(eq + 1))));
    }
    if (start.shown.isEmpty())
        qWarning("child said: %s", child.readAllStandardError().constData());
    return start;
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
    TestServers servers;
    QString smtpHost;

private slots:
    void initTestCase()
    {
        GuiTest::InitApp();
        servers = LoadTestServers();
        QVERIFY2(servers.ok, "the mail servers fixture did not start");
        smtpHost = QStringLiteral("127.0.0.1:%1").arg(servers.port("SMTP_PORT"));
    }

    void hostProgramHandOffFillsTheWindowAndConnects()
    {
        QTemporaryDir dir;
        Write(dir.filePath("Orvmail.cfg"),
              (smtpHost + ",alice@orvanta.test\r\n127.0.0.1:110,alice\r\n").toUtf8());
        Write(dir.filePath("note.txt"), "Dear Bob,\nthe note.\n");
        const Start s = Run(dir.path(), {"bob@orvanta.test,note.txt"});
        QCOMPARE(s["eTo"], QStringLiteral("bob@orvanta.test"));
        QCOMPARE(s["eSMTPServer"], smtpHost);
        QCOMPARE(s["eHomeAddr"], QStringLiteral("alice@orvanta.test"));
        QCOMPARE(s["ePOPServer"], QStringLiteral("127.0.0.1:110"));
        QCOMPARE(s["eUserName"], QStringLiteral("alice"));
        QCOMPARE(s["POPConnectBtn"], QStringLiteral("1")); // even without a password
        QCOMPARE(s["text"], QStringLiteral("Dear Bob,\nthe note.\n"));
        QCOMPARE(s["MessageFileArg"], QStringLiteral("note.txt"));
        QCOMPARE(s["smtpState"], QStringLiteral("4"));
        QCOMPARE(s["ConnectStatus"], "Connected to SMTP server: " + smtpHost);
        QCOMPARE(s["boxes"], QString());
    }

    void oneSendDeliversTheHandedOverNote()
    {
        EmptyMaildir(servers, "bob");
        QTemporaryDir dir;
        Write(dir.filePath("Orvmail.cfg"), (smtpHost + ",alice@orvanta.test\r\n,\r\n").toUtf8());
        Write(dir.filePath("note.txt"), "The note, sent by one press.\n");
        const Start s = Run(dir.path(), {"bob@orvanta.test," + dir.filePath("note.txt")}, true);
        QCOMPARE(s["boxes"], QString());
        QCOMPARE(s["closed"], QStringLiteral("0"));
        const QList<QByteArray> mail = MaildirMessages(servers, "bob", 1);
        QCOMPARE(mail.size(), 1);
        QCOMPARE(ParseMessage(mail[0]).body.trimmed(), QByteArray("The note, sent by one press."));
    }

    void settingsFiles_data()
    {
        QTest::addColumn<QByteArray>("settings"); // "<dir>" makes a folder
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("handOff");     // the argument was applied
        QTest::addColumn<QString>("box");      // start of the expected box text

        QTest::newRow("folder instead of a file") << QByteArray("<dir>") << "" << "" << "" << true << "";
        QTest::newRow("unreadable") << QByteArray("<unreadable>") << "" << "" << "" << false
                                    << "Orvanta Mail: I/O error 5.";
        QTest::newRow("empty") << QByteArray("") << "" << "" << "" << false << "";
        QTest::newRow("first line empty") << QByteArray("\r\nmail,user\r\n") << "" << "" << "" << false << "";
        QTest::newRow("one line") << QByteArray("nohost.invalid,me@x.test\r\n") << "nohost.invalid"
                                  << "me@x.test" << "" << false
                                  << "Error: Could not establish a connection: Check for dial-up errors.";
        QTest::newRow("no commas") << QByteArray("justtext\r\npopname\r\n") << "" << "justtext" << "popname"
                                   << true << "Error: Could not establish";
        QTest::newRow("only blanks") << QByteArray("   \r\n  \r\n") << "" << "   " << "  " << true
                                     << "Error: Could not establish";
        QTest::newRow("LF line ends") << QByteArray("h.invalid,a@b\nph,u\n") << "h.invalid" << "a@b" << "u" << true
                                      << "Error: Could not establish";
        QTest::newRow("long lines cut at 80")
            << QByteArray("h.invalid," + QByteArray(200, 'a') + "\r\nph," + QByteArray(100000, 'u') + "\r\n")
            << "h.invalid" << QString(80, 'a') << QString(80, 'u') << true << "Error: Could not establish";
        QTest::newRow("not UTF-8") << QByteArray("h\xe9.invalid,caf\xe9@x\r\nph,jos\xe9\r\n") << "h\u00e9.invalid"
                                   << "caf\u00e9@x" << "jos\u00e9" << true << "Error: Could not establish";
    }
    void settingsFiles()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, server);
        QFETCH(QString, address);
        QFETCH(QString, user);
        QFETCH(bool, handOff);
        QFETCH(QString, box);
        QTemporaryDir dir;
        const QString cfg = dir.filePath("Orvmail.cfg");
        if (settings == "<dir>")
            QVERIFY(QDir().mkdir(cfg));
        else if (settings == "<unreadable>")
            QVERIFY(QFile::link("/proc/self/mem", cfg)); // opens, then every read fails
        else
            Write(cfg, settings);
        Write(dir.filePath("note.txt"), "text");
        const Start s = Run(dir.path(), {"bob@orvanta.test,note.txt"});
        QCOMPARE(s["visibleAfterCreate"], QStringLiteral("1"));
        QCOMPARE(s["eSMTPServer"], server);
        QCOMPARE(s["eHomeAddr"], address);
        QCOMPARE(s["eUserName"], user);
        QCOMPARE(s["eTo"], handOff ? QStringLiteral("bob@orvanta.test") : QString());
        QCOMPARE(s["MessageFileArg"], handOff ? QStringLiteral("note.txt") : QStringLiteral("bob@orvanta.test,note.txt"));
        QVERIFY2(box.isEmpty() ? s["boxes"].isEmpty() : s["boxes"].startsWith(box), qPrintable(s["boxes"]));
    }

    void messageFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<dir>", "<none>", "<unreadable>" are special
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("sends");

        QTest::newRow("UTF-8") << QByteArray("gr\xc3\xbc\xc3\x9f dich \xe2\x82\xac") << "gr\u00fc\u00df dich \u20ac" << "" << "" << true;
        QTest::newRow("Latin-1") << QByteArray("gr\xfc\xdf dich") << "gr\u00fc\u00df dich" << "" << "" << true;
        QTest::newRow("empty") << QByteArray("") << "" << "" << "" << true;
        QTest::newRow("does not exist") << QByteArray("<none>") << "" << "" << "" << false;
        QTest::newRow("folder") << QByteArray("<dir>") << "" << "" << "" << false;
        QTest::newRow("unreadable") << QByteArray("<unreadable>") << "" << "" << "Orvanta Mail: Cannot open file" << true;
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10) << "" << ""
                                << "Orvanta Mail: Failed to Load Stream." << true;
        QTest::newRow("RTF") << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Caf\\'e9 {\\b bold}\\par next}")
                             << "Caf\u00e9 bold\nnext" << "" << "" << true;
        QTest::newRow("broken RTF shows as text") << QByteArray("{\\rtf1 unbalanced {\\b text")
                                                  << "{\\rtf1 unbalanced {\\b text" << "" << "" << true;
        QTest::newRow("no comma drops the last character") << QByteArray("plain") << "plain" << "note.txtX" << "" << true;
        QTest::newRow("several commas") << QByteArray("plain") << "" << "a@x.test,b@x.test,note.txt" << "" << false;
        QTest::newRow("spaces stay in the name") << QByteArray("spaced") << "spaced" << "bob@orvanta.test, note.txt" << "" << true;
    }
    void messageFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(QString, argument);
        QFETCH(QString, box);
        QFETCH(bool, sends);
        QTemporaryDir dir;
        const QString name = argument.contains(", ") ? QStringLiteral(" note.txt") : QStringLiteral("note.txt");
        const QString path = dir.filePath(name);
        if (content == "<dir>")
            QVERIFY(QDir().mkdir(path));
        else if (content == "<unreadable>")
            QVERIFY(QFile::link("/proc/self/mem", path));
        else if (content != "<none>")
            Write(path, content);
        const Start s = Run(dir.path(), {argument.isEmpty() ? QStringLiteral("bob@orvanta.test,note.txt") : argument}, true);
        QCOMPARE(s["text"], text);
        QVERIFY2(box.isEmpty() ? !s["boxes"].contains("Orvanta Mail:") : s["boxes"].startsWith(box), qPrintable(s["boxes"]));
        if (content.startsWith("{\\rtf1\\ansi"))
            QCOMPARE(s["bold"], QStringLiteral("1"));
        // The Send gate: a run with a message file goes on to send (here it
        // finds no SMTP session); one without shows the vendor page and closes.
        if (sends) {
            QCOMPARE(s["urls"], QString());
            QCOMPARE(s["closed"], QStringLiteral("0"));
        } else {
            QCOMPARE(s["MessageFileArg"], QString());
            QCOMPARE(s["urls"], QStringLiteral("https://www.halvex.example/"));
            QCOMPARE(s["closed"], QStringLiteral("1"));
        }
    }

    void largeMessageFileLoadsWhole()
    {
        QTemporaryDir dir;
        QByteArray big;
        for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
            big += "line " + QByteArray::number(i) + " of a large message file\n";
        Write(dir.filePath("note.txt"), big);
        const Start s = Run(dir.path(), {"bob@orvanta.test,note.txt"});
        QCOMPARE(s["text"].size(), big.size());
        QVERIFY(s["text"].endsWith(QString::fromLatin1(big.right(40))));
    }

    void withoutArgumentSendShowsTheVendorPageAndCloses()
    {
        QTemporaryDir dir;
        const Start s = Run(dir.path(), {}, true);
        QCOMPARE(s["visibleAfterCreate"], QStringLiteral("1"));
        QCOMPARE(s["eTo"], QString());
        QCOMPARE(s["text"], QString());
        QCOMPARE(s["eSubject"], QStringLiteral("Via Orvanta "));
        QCOMPARE(s["eSMTPServer"], QString());
        QCOMPARE(s["MessageFileArg"], QString());
        QCOMPARE(s["urls"], QStringLiteral("https://www.halvex.example/"));
        QCOMPARE(s["closed"], QStringLiteral("1"));
    }

    // ---- saving, in this process ----

    void saveWritesTwoCrLfLinesAndNoPassword()
    {
        QTemporaryDir dir;
        const QString home = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            auto form = GuiTest::ShowForm();
            Find<QLineEdit>(form.get(), "eSMTPServer")->setText("smtp.example.org");
            Find<QLineEdit>(form.get(), "eHomeAddr")->setText(QString(100, 'r') + "@example.org");
            Find<QLineEdit>(form.get(), "ePOPServer")->setText("pop.example.org");
            Find<QLineEdit>(form.get(), "eUserName")->setText("j\u00f6rg");
            Find<QLineEdit>(form.get(), "ePassword")->setText("secret-pw");
            QTest::mouseClick(Find(form.get(), "SaveBtn"), Qt::LeftButton);
        }
        QDir::setCurrent(home);
        QFile file(dir.filePath("Orvmail.cfg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        // Saved whole (the 80-character cut is for reading only).
        QCOMPARE(saved, "smtp.example.org," + QByteArray(100, 'r') + "@example.org\r\npop.example.org,j\xc3\xb6rg\r\n");
        QVERIFY(!saved.contains("secret"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Orvmail.cfg"});
    }

    void failedSaveKeepsThePreviousFile()
    {
        QTemporaryDir dir;
        const QString home = QDir::currentPath();
        QDir::setCurrent(dir.path());
        GuiTest::ModalLog log;
        {
            auto form = GuiTest::ShowForm();
            Write(dir.filePath("Orvmail.cfg"), "old.example.org,me@old\r\npop.old,me\r\n");
            Find<QLineEdit>(form.get(), "eSMTPServer")->setText("new.example.org");
            // Files may grow to 8 bytes only: the write fails part-way.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit old{};
            getrlimit(RLIMIT_FSIZE, &old);
            rlimit tiny = old;
            tiny.rlim_cur = 8;
            setrlimit(RLIMIT_FSIZE, &tiny);
            log = GuiTest::WhileAnsweringModals([&] { QTest::mouseClick(Find(form.get(), "SaveBtn"), Qt::LeftButton); });
            setrlimit(RLIMIT_FSIZE, &old);
        }
        QDir::setCurrent(home);
        QVERIFY2(log.texts == QStringList{"I/O error 27."}, qPrintable(log.titles.join('|') + " / " + log.texts.join('|')));
        QFile file(dir.filePath("Orvmail.cfg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("old.example.org,me@old\r\npop.old,me\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Orvmail.cfg"});
    }
};

int main(int argc, char *argv[])
{
    if (argc > 3 && QByteArray(argv[1]) == "--child")
        return RunChild(argc, argv);
    QApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
