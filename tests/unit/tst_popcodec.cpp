// The POP side's pure parts: status lines and the streaming RETR decoder.
#include "pop/popreply.h"

#include <QTest>

using namespace pop;

namespace {
struct Decoded {
    QList<RawHeader> headers;
    QByteArray body;
    qsizetype consumed = 0;
    bool done = false;
};

Decoded Decode(const QList<QByteArray> &chunks)
{
    RetrDecoder decoder;
    Decoded result;
    for (const QByteArray &chunk : chunks) {
        result.consumed += decoder.Feed(chunk);
        result.body += decoder.TakeBody();
    }
    result.headers = decoder.Headers();
    result.done = decoder.Done();
    return result;
}
} // namespace

class TestPopCodec : public QObject {
    Q_OBJECT
private slots:
    void statusLines_data();
    void statusLines();
    void retrieved_data();
    void retrieved();
    void splitAtEveryByteGivesTheSameMessage_data();
    void splitAtEveryByteGivesTheSameMessage();
    void plainBodyLinesAreNotCopied();
    void stopsAtTheTerminator();
    void hugeHeaderBlockBecomesBody();
};

void TestPopCodec::statusLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("text");
    const int C = int(ParseResult::Complete), M = int(ParseResult::NeedMore), I = int(ParseResult::Invalid);
    QTest::newRow("+OK with text") << QByteArray("+OK 2 320\r\n") << C << true << QByteArray("2 320");
    QTest::newRow("bare +OK") << QByteArray("+OK\r\n") << C << true << QByteArray();
    QTest::newRow("-ERR") << QByteArray("-ERR no such message\n") << C << false << QByteArray("no such message");
    QTest::newRow("incomplete") << QByteArray("+OK 2") << M << false << QByteArray();
    QTest::newRow("garbage") << QByteArray("HELLO\r\n") << I << false << QByteArray();
    QTest::newRow("+OKAY is not +OK") << QByteArray("+OKAY\r\n") << I << false << QByteArray();
    QTest::newRow("1 MiB line without CRLF") << ("+OK " + QByteArray(1 << 20, 'x')) << I << false << QByteArray();
}

void TestPopCodec::statusLines()
{
    QFETCH(QByteArray, input);
    QFETCH(int, result);
    StatusLine line;
    qsizetype consumed = 0;
    QByteArray error;
    QCOMPARE(int(ParseStatusLine(input, &line, &consumed, &error)), result);
    if (result == int(ParseResult::Complete)) {
        QTEST(line.ok, "ok");
        QTEST(line.text, "text");
    }
}

void TestPopCodec::retrieved_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QStringList>("headers"); // "name=value"
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("headers and body") << QByteArray("Subject: hi\r\nTo: a@x\r\n\r\nline\r\n.\r\n")
                                      << QStringList{"Subject=hi", "To=a@x"} << QByteArray("line\r\n");
    QTest::newRow("folded header unfolded")
        << QByteArray("Subject: one\r\n\ttwo\r\n  three\r\n\r\n.\r\n") << QStringList{"Subject=one\ttwo  three"}
        << QByteArray();
    QTest::newRow("dot-stuffed lines") << QByteArray("A: b\r\n\r\n..\r\n...x\r\n.y\r\n.\r\n") << QStringList{"A=b"}
                                       << QByteArray(".\r\n..x\r\ny\r\n");
    QTest::newRow("0-byte message") << QByteArray(".\r\n") << QStringList{} << QByteArray();
    QTest::newRow("no body") << QByteArray("A: b\r\n.\r\n") << QStringList{"A=b"} << QByteArray();
    QTest::newRow("no header block") << QByteArray("just text\r\nmore\r\n.\r\n") << QStringList{}
                                     << QByteArray("just text\r\nmore\r\n");
    QTest::newRow("LF-only server") << QByteArray("A: b\n\nx\n..\n.\n") << QStringList{"A=b"}
                                    << QByteArray("x\r\n.\r\n");
    QTest::newRow("bare CR inside a line kept") << QByteArray("A: b\r\n\r\nx\ry\r\n.\r\n") << QStringList{"A=b"}
                                                << QByteArray("x\ry\r\n");
    QTest::newRow("empty lines at body end kept") << QByteArray("A: b\r\n\r\nx\r\n\r\n\r\n.\r\n")
                                                  << QStringList{"A=b"} << QByteArray("x\r\n\r\n\r\n");
}

void TestPopCodec::retrieved()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, body);
    const Decoded d = Decode({wire});
    QVERIFY(d.done);
    QCOMPARE(d.consumed, wire.size());
    QStringList headers;
    for (const RawHeader &h : d.headers)
        headers.append(QString::fromUtf8(h.first + '=' + h.second));
    QTEST(headers, "headers");
    QCOMPARE(d.body, body);
}

void TestPopCodec::splitAtEveryByteGivesTheSameMessage_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("folded header, stuffed dot")
        << QByteArray("Subject: a\r\n b\r\n\r\n..\r\nx\r\n.\r\n") << QByteArray(".\r\nx\r\n");
    QTest::newRow("CR LF runs broken by bare LF, bare CR and dots")
        << QByteArray("A: b\r\n\r\nx\r\ny\r\n\nz\n\r\n.a\r\nq\rr\r\n..\r\nw\r\n.\r\n")
        << QByteArray("x\r\ny\r\n\r\nz\r\n\r\na\r\nq\rr\r\n.\r\nw\r\n");
}

void TestPopCodec::splitAtEveryByteGivesTheSameMessage()
{
    QFETCH(QByteArray, wire);
    const Decoded whole = Decode({wire});
    for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
        for (qsizetype cut2 = cut; cut2 <= wire.size(); ++cut2) {
            const Decoded d = Decode({wire.left(cut), wire.mid(cut, cut2 - cut), wire.mid(cut2)});
            QVERIFY(d.done);
            QCOMPARE(d.body, whole.body);
            QCOMPARE(d.headers, whole.headers);
        }
    }
    QTEST(whole.body, "body");
}

void TestPopCodec::plainBodyLinesAreNotCopied()
{
    // A large message must not cost a copy of every read: lines that come
    // as they are meant are handed on where they lie.
    const QByteArray head = "Subject: a\r\n\r\n";
    const QByteArray lines = QByteArray("The quick brown fox\r\n").repeated(1000);
    RetrDecoder decoder;
    QByteArrayView body;
    const QByteArray first = head + lines;
    QCOMPARE(decoder.Feed(first, &body), first.size());
    QCOMPARE(body.data(), first.constData() + head.size());
    QCOMPARE(body.size(), lines.size());
    const QByteArray more = lines + ".\r\n";
    QCOMPARE(decoder.Feed(more, &body), more.size());
    QVERIFY(decoder.Done());
    QCOMPARE(body.data(), more.constData());
    QCOMPARE(body.size(), lines.size());
}

void TestPopCodec::stopsAtTheTerminator()
{
    // What follows the terminator is the next reply and must stay unread.
    RetrDecoder decoder;
    const QByteArray wire = "A: b\r\n\r\nx\r\n.\r\n+OK bye\r\n";
    QCOMPARE(decoder.Feed(wire), wire.indexOf("+OK"));
    QVERIFY(decoder.Done());
}

void TestPopCodec::hugeHeaderBlockBecomesBody()
{
    // A "header" that never ends must not grow memory: past the limit the
    // octets go on as body, none lost.
    const QByteArray line = "X: " + QByteArray(kMaxHeaderBlock + 10, 'h') + "\r\n";
    const Decoded d = Decode({line, "tail\r\n.\r\n"});
    QVERIFY(d.done);
    QCOMPARE(d.body, line + "tail\r\n");
}

QTEST_GUILESS_MAIN(TestPopCodec)
#include "tst_popcodec.moc"
