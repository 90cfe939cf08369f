// Local files that are not what they claim: FIFOs and devices where a file
// is expected, files too large or too oddly shaped to edit, files bigger
// than the attachment scan reads, and settings fields that carry line
// breaks. None may hang, exhaust memory or change what is sent or saved.
#include "exceptions.h"
#include "guitest.h"
#include "mailform.h"
#include "messagefile.h"
#include "smtp/smtptransaction.h"
#include "textfile.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <sys/stat.h>
#include <unistd.h>

using GuiTest::Find;

namespace {

// The wire as a transaction sees it: the start and end of what is written.
struct Wire : smtp::Link {
    QByteArray head;
    QByteArray tail;
    QList<smtp::Await> awaited;
    void Send(const QByteArray &, smtp::Await await) override { awaited << await; }
    void Write(const QByteArray &bytes) override
    {
        if (head.size() < 4096)
            head += bytes.left(4096);
        tail = (tail + bytes).right(64);
    }
    void Expect(smtp::Await await) override { awaited << await; }
    qint64 Backlog() const override { return 0; }
    bool Offers(QByteArrayView extension) const override { return extension == "8BITMIME"; }
    bool MustEncrypt(QString *) const override { return false; }
    void Progress(DocState, qint64, qint64) override {}
};

smtp::Document FileDocument(const QString &path)
{
    smtp::Document document;
    document.headers = {{"From", "me@x.test"}, {"To", "you@x.test"}};
    document.fromFile = true;
    document.fileName = path;
    return document;
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestHostileFiles : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString Special(const QString &kind)
    {
        const QString path = dir.filePath(kind);
        if (!QFile::exists(path)) {
            if (kind == QLatin1String("fifo"))
                ::mkfifo(QFile::encodeName(path).constData(), 0600);
            else
                QFile::link(QStringLiteral("/dev/zero"), path);
        }
        return path;
    }

private slots:
    void initTestCase() { GuiTest::InitApp(); }

    // A FIFO without a writer blocks an ordinary open for ever; /dev/zero
    // never ends. Each reader refuses them at once.
    void specialFilesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
    }
    void specialFilesAreRefused()
    {
        QFETCH(QString, kind);
        const QString path = Special(kind);
        QVERIFY(!TextFile::IsRegularFile(path));
        try {
            TextFile::ReadAll(path, 1024);
            QFAIL("read");
        } catch (const EInOutError &error) {
            QCOMPARE(error.ErrorCode(), EInOutError::NotAFile);
        }
        QVERIFY_THROWS_EXCEPTION(EInOutError, TextFile::LineReader(path, 1024));
        QTextDocument document;
        QVERIFY_THROWS_EXCEPTION(Exception, LoadMessageFile(&document, path));

        Wire wire;
        smtp::Transaction transaction(wire, FileDocument(path));
        const smtp::Outcome prepared = transaction.Prepare();
        QCOMPARE(int(prepared.kind), int(smtp::Outcome::Refused));
        QCOMPARE(int(prepared.failure.number), int(InetError::FileError));
        QVERIFY(prepared.failure.description.endsWith(QStringLiteral("it is not a regular file")));
    }

    void settingsFileThatIsAFifoIsNoSettingsFile()
    {
        QTemporaryDir work;
        QVERIFY(::mkfifo(QFile::encodeName(work.filePath("Orvmail.cfg")).constData(), 0600) == 0);
        const QString home = QDir::currentPath();
        QDir::setCurrent(work.path());
        {
            auto form = GuiTest::ShowForm();
            QCOMPARE(Find<QLineEdit>(form.get(), "eSMTPServer")->text(), QString());
        }
        QDir::setCurrent(home);
    }

    // Shapes that would freeze the editor are refused; what is loaded is
    // the file's text unchanged, long lines wrapped anywhere for display.
    void messageFileShapes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<int>("wrap");
        const int word = QTextOption::WrapAtWordBoundaryOrAnywhere;
        const int anywhere = QTextOption::WrapAnywhere;
        QTest::newRow("plain text") << QByteArray("Hello\nworld\n") << true << word;
        QTest::newRow("8 KiB line without spaces") << ("a\n" + QByteArray(8192, 'x') + "\nb") << true << anywhere;
        QTest::newRow("512 KiB line without spaces") << QByteArray(512 * 1024, 'x') << false << word;
        QTest::newRow("many long lines") << (QByteArray(4096, 'x') + '\n').repeated(100) << false << word;
        QTest::newRow("600,000 empty lines") << QByteArray(600'000, '\n') << false << word;
        QTest::newRow("RTF: one long paragraph of bold and plain runs")
            << "{\\rtf1\\ansi " + QByteArray("\\b bold\\b0  plain ").repeated(30'000) + "}" << false << word;
        QTest::newRow("RTF: paragraphs") << "{\\rtf1\\ansi " + QByteArray("\\b bold\\b0  plain\\par ").repeated(1000) + "}"
                                         << true << word;
    }
    void messageFileShapes()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loads);
        QFETCH(int, wrap);
        const QString path = dir.filePath("message.txt");
        Write(path, content);
        QTextDocument document;
        bool loaded = true;
        try {
            LoadMessageFile(&document, path);
        } catch (const Exception &error) {
            loaded = false;
            QCOMPARE(error.Message(), QStringLiteral("The file %1 is too large to edit").arg(path));
            QVERIFY(document.isEmpty());
        }
        QCOMPARE(loaded, loads);
        if (loaded) {
            QCOMPARE(int(document.defaultTextOption().wrapMode()), wrap);
            if (!content.startsWith("{\\rtf"))
                QCOMPARE(document.toPlainText(), QString::fromLatin1(content));
        }
    }

    // Longer than any message: refused from its size alone, nothing read.
    void hugeMessageFileIsRefused()
    {
        const QString path = dir.filePath("huge.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(1) << 30)); // sparse
        file.close();
        QTextDocument document;
        QVERIFY_THROWS_EXCEPTION(Exception, LoadMessageFile(&document, path));
        try {
            TextFile::LineReader(path, 1024);
            QFAIL("read");
        } catch (const EInOutError &error) {
            QCOMPARE(error.ErrorCode(), EInOutError::TooLarge);
        }
    }

    // Only the start of a long attachment is scanned before sending; the
    // unread rest may hold anything, so the body goes quoted-printable and
    // still arrives whole.
    void longAttachmentIsScannedInPartAndSentWhole()
    {
        const QString path = dir.filePath("long.txt");
        const QByteArray line = "plain ASCII text in short lines\n";
        const QByteArray block = line.repeated(1024 * 1024 / line.size());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 130; ++i) // past the bound of the scan
            QCOMPARE(file.write(block), block.size());
        file.close();
        Wire wire;
        smtp::Transaction transaction(wire, FileDocument(path));
        QCOMPARE(int(transaction.Prepare().kind), int(smtp::Outcome::Going));
        QCOMPARE(transaction.Total(), 130 * block.size());
        transaction.Start();
        transaction.OnMail250({250, {"ok"}});
        transaction.OnRcpt250({250, {"ok"}});
        transaction.OnData354({354, {"go"}});
        const QByteArray headers = wire.head.left(wire.head.indexOf("\r\n\r\n") + 4);
        QVERIFY2(headers.contains("Content-Transfer-Encoding: quoted-printable"), headers.constData());
        QVERIFY2(headers.contains("charset=UTF-8"), headers.constData());
        QCOMPARE(transaction.Transferred(), 130 * block.size());
        QVERIFY(wire.tail.endsWith(line.chopped(1) + "\r\n.\r\n"));
        QFile::remove(path);
    }

    // A line break typed or pasted into a field that is saved would start a
    // third line, read at the next start as another server and user.
    void savedFieldsCarryNoLineBreaks_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pasted");
        QTest::newRow("SMTP server, CR LF") << "eSMTPServer" << "smtp.example\r\nmail.attacker.example,evil";
        QTest::newRow("return address, LF") << "eHomeAddr" << "me@example\nmail.attacker.example,evil";
        QTest::newRow("POP server, CR") << "ePOPServer" << "pop.example\rmail.attacker.example";
        QTest::newRow("user name, CR LF") << "eUserName" << "me\r\n";
    }
    void savedFieldsCarryNoLineBreaks()
    {
        QFETCH(QString, field);
        QFETCH(QString, pasted);
        QTemporaryDir work;
        const QString home = QDir::currentPath();
        QDir::setCurrent(work.path());
        QString shown;
        {
            auto form = GuiTest::ShowForm();
            auto *edit = Find<QLineEdit>(form.get(), field);
            QApplication::clipboard()->setText(pasted);
            edit->setFocus();
            edit->paste();
            shown = edit->text();
            QTest::mouseClick(Find(form.get(), "SaveBtn"), Qt::LeftButton);
        }
        QDir::setCurrent(home);
        QString expected = pasted;
        expected.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        QCOMPARE(shown, expected);
        QFile file(work.filePath("Orvmail.cfg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QCOMPARE(saved.count('\n'), 2);
        QCOMPARE(saved.count('\r'), 2);
        QVERIFY(saved.endsWith("\r\n"));
        QVERIFY(saved.contains(expected.toUtf8()));
    }
};

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
