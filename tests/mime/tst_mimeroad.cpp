// Messages of the corpus, seeded into a real Dovecot mailbox and read back
// through TPOP: decoded as corpus/NAME.expected says, and with DecodeMime
// off exactly as their source.
#include "docobjects.h"
#include "mime/mimeheaders.h"
#include "testsupport.h"
#include "tpop.h"

#include <QFile>
#include <QTest>

namespace {
// The mailbox this test empties and fills; the test runs alone.
const QString kUser = QStringLiteral("carol");
const QStringList kMessages{QStringLiteral("plain-7bit"), QStringLiteral("encoded-words"),
                            QStringLiteral("qp-latin1"), QStringLiteral("mixed-attachments"),
                            QStringLiteral("html-only"), QStringLiteral("bad-base64")};

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Corpus(const QString &name, const char *suffix)
{
    return QStringLiteral(ORV_MIME_CORPUS "/") + name + QLatin1String(suffix);
}

struct Shown {
    QString headers; // "Name: value\n" each
    QString body;
    int dataEvents = 0;
};
} // namespace

class TestMimeRoad : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void messagesReadDecoded();
    void sourceStaysRetrievable();

private:
    QList<Shown> RetrieveAll(bool decodeMime);

    TestServers m_servers;
};

void TestMimeRoad::initTestCase()
{
    m_servers = LoadTestServers();
    if (!m_servers.ok)
        QSKIP("the mail servers are not running (ORV_SERVERS_ENV)");
    EmptyMaildir(m_servers, kUser);
    QList<QByteArray> messages;
    for (const QString &name : kMessages)
        messages << ReadFile(Corpus(name, ".eml"));
    QVERIFY(SeedMaildir(m_servers, kUser, messages));
}

void TestMimeRoad::cleanupTestCase()
{
    if (m_servers.ok)
        EmptyMaildir(m_servers, kUser);
}

QList<Shown> TestMimeRoad::RetrieveAll(bool decodeMime)
{
    QList<Shown> shown;
    TPOP pop;
    pop.SetTimeout(30);
    pop.SetDecodeMime(decodeMime);
    qint32 count = -1;
    QList<short> errors;
    bool ended = false;
    Shown current;
    connect(&pop, &TPOP::OnProtocolStateChanged, this, [&](short s) {
        if (s == 1)
            pop.Authenticate(kUser, kUser + QStringLiteral("-pw"));
    });
    connect(&pop, &TPOP::OnRefreshMessageCount, this, [&](qint32 n) { count = n; });
    connect(&pop, &TPOP::OnError, this,
            [&](short n, const QString &, bool &) { errors << n; });
    connect(&pop, &TPOP::OnDocOutput, this, [&](TDocOutput *doc) {
        if (doc->State() == 2)
            for (qint32 i = 1; i <= doc->Headers().Count(); ++i)
                current.headers += doc->Headers().Item(i).Name() + QStringLiteral(": ")
                                   + doc->Headers().Item(i).Value() + QLatin1Char('\n');
        if (doc->State() == 3) {
            current.body += doc->GetData();
            ++current.dataEvents;
        }
        ended |= doc->State() == 5;
    });
    pop.SetRemoteHost(m_servers.value("POP_HOST") + ':' + m_servers.value("POP_PORT"));
    pop.Connect();
    if (!QTest::qWaitFor([&] { return count >= 0 || !errors.isEmpty(); }, 10000))
        return shown;
    for (qint32 n = 1; n <= count && errors.isEmpty(); ++n) {
        current = Shown();
        ended = false;
        pop.RetrieveMessage(short(n));
        if (!QTest::qWaitFor([&] { return ended; }, 30000))
            break;
        shown << current;
    }
    pop.Quit();
    (void)QTest::qWaitFor([&] { return pop.State() == 6; }, 10000);
    if (!errors.isEmpty())
        qWarning() << "POP errors" << errors;
    return shown;
}

void TestMimeRoad::messagesReadDecoded()
{
    const QList<Shown> shown = RetrieveAll(true);
    QCOMPARE(shown.size(), kMessages.size());
    for (const QString &name : kMessages) {
        const QString expected = QString::fromUtf8(ReadFile(Corpus(name, ".expected")));
        const QString subjectLine = expected.section(QLatin1Char('\n'), 0, 0);
        const auto it = std::find_if(shown.begin(), shown.end(),
                                     [&](const Shown &s) { return s.headers.startsWith(subjectLine + '\n')
                                                               || s.headers.contains('\n' + subjectLine + '\n'); });
        QVERIFY2(it != shown.end(), qPrintable(name));
        QString body = it->body;
        body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(it->headers + '\n' + body, expected);
    }
}

void TestMimeRoad::sourceStaysRetrievable()
{
    const QList<Shown> shown = RetrieveAll(false);
    QCOMPARE(shown.size(), kMessages.size());
    for (qsizetype k = 0; k < kMessages.size(); ++k) {
        // The server sends the file with CRLF line ends; the body arrives
        // octet for octet (every corpus message here is 7-bit on the wire).
        QByteArray source = ReadFile(Corpus(kMessages[k], ".eml"));
        source.replace("\n", "\r\n");
        QByteArrayView body;
        const QList<mime::HeaderField> fields = mime::ParseHeaderBlock(source, &body);
        QString headers;
        for (const auto &[name, value] : fields)
            headers += QString::fromLatin1(name) + QStringLiteral(": ") + QString::fromUtf8(value) + '\n';
        const auto it = std::find_if(shown.begin(), shown.end(), [&](const Shown &s) { return s.headers == headers; });
        QVERIFY2(it != shown.end(), qPrintable(kMessages[k]));
        // Lines as the control hands them on: ended by '\n'.
        const QByteArray lines = body.toByteArray().replace("\r\n", "\n");
        QCOMPARE(it->body.toLatin1(), lines);
        QCOMPARE(it->body.toLatin1().size(), lines.size());
    }
}

QTEST_MAIN(TestMimeRoad)
#include "tst_mimeroad.moc"
