// Messages written for these tests (corpus/NAME.eml) must read exactly as
// corpus/NAME.expected says, however the body is cut into reads.
#include "mime/bodydecoder.h"
#include "mime/encodedwords.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString WithLfEnds(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// What the window would show, given the body fed in pieces of `chunk`
// octets (0: whole).
QString Read(const QByteArray &source, qsizetype chunk)
{
    QByteArray wire = source; // as the server sends it: CRLF line ends
    wire.replace("\r\n", "\n");
    wire.replace("\n", "\r\n");
    QByteArrayView body;
    const QList<mime::HeaderField> fields = mime::ParseHeaderBlock(wire, &body);
    QString shown;
    for (const auto &[name, value] : fields)
        shown += QString::fromLatin1(name) + QStringLiteral(": ") + mime::DecodeHeaderValue(value) + QLatin1Char('\n');
    shown += QLatin1Char('\n');
    mime::BodyDecoder decoder(fields);
    if (chunk <= 0)
        chunk = qMax<qsizetype>(body.size(), 1);
    for (qsizetype at = 0; at < body.size(); at += chunk)
        shown += decoder.Feed(body.sliced(at, qMin(chunk, body.size() - at)));
    shown += decoder.Finish();
    return WithLfEnds(shown);
}
} // namespace

class TestMimeCorpus : public QObject {
    Q_OBJECT
private slots:
    void corpusReadsAsExpected_data();
    void corpusReadsAsExpected();
};

void TestMimeCorpus::corpusReadsAsExpected_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("chunk");
    const QDir dir(QStringLiteral(ORV_MIME_CORPUS));
    const QStringList names = dir.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 10);
    for (const QString &file : names) {
        const QString name = file.chopped(4);
        for (int chunk : {1, 7, 0})
            QTest::addRow("%s, %s", qPrintable(name), chunk ? qPrintable(QString::number(chunk)) : "whole")
                << name << chunk;
    }
}

void TestMimeCorpus::corpusReadsAsExpected()
{
    QFETCH(QString, name);
    QFETCH(int, chunk);
    const QString base = QStringLiteral(ORV_MIME_CORPUS "/") + name;
    const QByteArray source = ReadFile(base + QStringLiteral(".eml"));
    const QString expected = QString::fromUtf8(ReadFile(base + QStringLiteral(".expected")));
    QVERIFY(!source.isEmpty() && !expected.isEmpty());
    QCOMPARE(Read(source, chunk), expected);
}

QTEST_GUILESS_MAIN(TestMimeCorpus)
#include "tst_mimecorpus.moc"
