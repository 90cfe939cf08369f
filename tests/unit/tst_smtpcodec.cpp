// The SMTP side's pure parts: reply parsing, address checks, the DATA stream
// (line ends, dot-stuffing, quoted-printable) and the header block.
#include "net/hostport.h"
#include "smtp/smtpaddress.h"
#include "smtp/smtpbody.h"
#include "smtp/smtpmessage.h"
#include "smtp/smtpreply.h"

#include <QTest>
#include <QTimeZone>

using namespace smtp;

namespace {
QByteArray Stuff(const QList<QByteArray> &chunks)
{
    DotStuffer stuffer;
    QByteArray out;
    for (const QByteArray &chunk : chunks)
        stuffer.Feed(chunk, out);
    stuffer.Finish(out);
    return out;
}

QByteArray QpDecode(const QByteArray &encoded)
{
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '=' && i + 2 < encoded.size() + 1) {
            if (encoded.mid(i + 1, 2) == "\r\n") {
                i += 2;
                continue;
            }
            out.append(char(encoded.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
            continue;
        }
        out.append(encoded[i]);
    }
    return out;
}
} // namespace

class TestSmtpCodec : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void replySplitAtEveryByteArrivesWhole();
    void addresses_data();
    void addresses();
    void dataStream_data();
    void dataStream();
    void dotStuffingSurvivesEveryChunkBoundary();
    void quotedPrintableRoundTripsAndKeepsLinesShort_data();
    void quotedPrintableRoundTripsAndKeepsLinesShort();
    void encodingChoice_data();
    void encodingChoice();
    void envelope_data();
    void envelope();
    void asciiDocumentKeepsProgramHeaders();
    void hostPort_data();
    void hostPort();
};

void TestSmtpCodec::replies_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("result"); // ParseResult
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("consumed");

    const int C = int(ParseResult::Complete), M = int(ParseResult::NeedMore), I = int(ParseResult::Invalid);
    QTest::newRow("single line") << QByteArray("250 OK\r\nrest") << C << 250 << 1 << 8;
    QTest::newRow("bare code without text") << QByteArray("250\r\n") << C << 250 << 1 << 5;
    QTest::newRow("LF-only line end") << QByteArray("220 hi\n") << C << 220 << 1 << 7;
    QTest::newRow("multi-line") << QByteArray("250-a\r\n250-b\r\n250 c\r\n") << C << 250 << 3 << 21;
    QTest::newRow("multi-line, last bare") << QByteArray("250-a\r\n250\r\n") << C << 250 << 2 << 12;
    QTest::newRow("incomplete line") << QByteArray("250 O") << M << 0 << 0 << 0;
    QTest::newRow("incomplete multi-line") << QByteArray("250-a\r\n250-b\r\n") << M << 0 << 0 << 0;
    QTest::newRow("garbage") << QByteArray("hello there\r\n") << I << 0 << 0 << 0;
    QTest::newRow("code out of range") << QByteArray("600 no\r\n") << I << 0 << 0 << 0;
    QTest::newRow("bad separator") << QByteArray("250x\r\n") << I << 0 << 0 << 0;
    QTest::newRow("code changes inside reply") << QByteArray("250-a\r\n251 b\r\n") << I << 0 << 0 << 0;
    QTest::newRow("line without end beyond limit") << QByteArray(kMaxReplyLine + 1, 'x') << I << 0 << 0 << 0;
    QTest::newRow("1 MiB line without CRLF") << ("250 " + QByteArray(1 << 20, 'x')) << I << 0 << 0 << 0;
    QByteArray endless;
    for (int i = 0; i <= kMaxReplyLines; ++i)
        endless += "250-more\r\n";
    QTest::newRow("endless multi-line") << endless << I << 0 << 0 << 0;
}

void TestSmtpCodec::replies()
{
    QFETCH(QByteArray, input);
    QFETCH(int, result);
    Reply reply;
    qsizetype consumed = 0;
    QString error;
    QCOMPARE(int(ParseReply(input, &reply, &consumed, &error)), result);
    if (result == int(ParseResult::Complete)) {
        QTEST(reply.code, "code");
        QTEST(int(reply.lines.size()), "lines");
        QTEST(int(consumed), "consumed");
    }
    if (result == int(ParseResult::Invalid))
        QVERIFY(!error.isEmpty());
}

void TestSmtpCodec::replySplitAtEveryByteArrivesWhole()
{
    const QByteArray wire = "250-mail.example\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
    for (qsizetype cut = 0; cut < wire.size(); ++cut) {
        Reply reply;
        qsizetype consumed = 0;
        QString error;
        QCOMPARE(ParseReply(wire.left(cut), &reply, &consumed, &error), ParseResult::NeedMore);
        QCOMPARE(ParseReply(wire, &reply, &consumed, &error), ParseResult::Complete);
        QCOMPARE(reply.lines.value(1), QByteArray("PIPELINING"));
    }
}

void TestSmtpCodec::addresses_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("addresses");
    QTest::newRow("plain") << "alice@orvanta.test" << true << QStringList{"alice@orvanta.test"};
    QTest::newRow("name and angle") << "Alice Smith <alice@orvanta.test>" << true
                                    << QStringList{"alice@orvanta.test"};
    QTest::newRow("two, with comma in quotes") << "\"Smith, Al\" <al@x.test>, bob@y.test" << true
                                               << QStringList{"al@x.test", "bob@y.test"};
    QTest::newRow("stray comma skipped") << "a@x.test, , b@x.test," << true << QStringList{"a@x.test", "b@x.test"};
    QTest::newRow("non-ASCII display name") << "Jörg <j@x.test>" << true << QStringList{"j@x.test"};
    QTest::newRow("address literal") << "root@[127.0.0.1]" << true << QStringList{"root@[127.0.0.1]"};
    QTest::newRow("quoted local part") << "\"john doe\"@x.test" << true << QStringList{"\"john doe\"@x.test"};
    QTest::newRow("empty") << "" << false << QStringList{};
    QTest::newRow("no at") << "alice" << false << QStringList{};
    QTest::newRow("no domain") << "alice@" << false << QStringList{};
    QTest::newRow("double dot") << "al..ice@x.test" << false << QStringList{};
    QTest::newRow("space in address") << "al ice@x.test" << false << QStringList{};
    QTest::newRow("one bad of two") << "a@x.test, nonsense" << false << QStringList{};
    QTest::newRow("unclosed angle") << "Al <a@x.test" << false << QStringList{};
    QTest::newRow("domain label with dash at end") << "a@x-.test" << false << QStringList{};
    QTest::newRow("non-ASCII local part") << "jörg@x.test" << false << QStringList{};
    QTest::newRow("line break in name") << "A\r\nBcc: e@vil.test <a@x.test>" << false << QStringList{};
}

void TestSmtpCodec::addresses()
{
    QFETCH(QString, list);
    QFETCH(bool, ok);
    const AddressList parsed = ParseAddressList(list);
    QCOMPARE(parsed.ok, ok);
    if (ok) {
        QStringList got;
        for (const Mailbox &m : parsed.mailboxes)
            got.append(m.address);
        QTEST(got, "addresses");
    }
}

void TestSmtpCodec::dataStream_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("first line is a dot") << QByteArray(".\nx") << QByteArray("..\r\nx\r\n.\r\n");
    QTest::newRow("line that is only a dot") << QByteArray("a\r\n.\r\nb\r\n") << QByteArray("a\r\n..\r\nb\r\n.\r\n");
    QTest::newRow("line starting with two dots") << QByteArray("..x\n") << QByteArray("...x\r\n.\r\n");
    QTest::newRow("dot inside a line untouched") << QByteArray("a.b\n") << QByteArray("a.b\r\n.\r\n");
    QTest::newRow("bare LF and bare CR become CRLF") << QByteArray("a\nb\rc\r\nd") << QByteArray("a\r\nb\r\nc\r\nd\r\n.\r\n");
    QTest::newRow("CR CR LF is two line ends") << QByteArray("a\r\r\nb") << QByteArray("a\r\n\r\nb\r\n.\r\n");
    QTest::newRow("empty body") << QByteArray() << QByteArray(".\r\n");
    QTest::newRow("dot after a bare CR") << QByteArray("a\r.") << QByteArray("a\r\n..\r\n.\r\n");
}

void TestSmtpCodec::dataStream()
{
    QFETCH(QByteArray, text);
    QTEST(Stuff({text}), "wire");
}

void TestSmtpCodec::dotStuffingSurvivesEveryChunkBoundary()
{
    const QByteArray text = ".a\r\n..\r\n.\rb\n.\r\n";
    const QByteArray whole = Stuff({text});
    for (qsizetype cut = 0; cut <= text.size(); ++cut)
        QCOMPARE(Stuff({text.left(cut), text.mid(cut)}), whole);
    QCOMPARE(whole, QByteArray("..a\r\n...\r\n..\r\nb\r\n..\r\n.\r\n"));
}

void TestSmtpCodec::quotedPrintableRoundTripsAndKeepsLinesShort_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("5000 character line") << QByteArray(5000, 'x');
    QTest::newRow("UTF-8 text") << QString::fromUtf8("Grüße, 東京, ☃\r\nzweite Zeile").toUtf8();
    QTest::newRow("trailing blanks before line end") << QByteArray("a  \r\nb\t\r\nc ");
    QTest::newRow("equals signs and controls") << QByteArray("a=b\x01\x7f\r\n");
    QTest::newRow("long line of blanks") << QByteArray(300, ' ');
    QTest::newRow("tab at the very end") << QByteArray("last\t");
}

void TestSmtpCodec::quotedPrintableRoundTripsAndKeepsLinesShort()
{
    QFETCH(QByteArray, text);
    for (qsizetype cut : {qsizetype(0), qsizetype(1), text.size() / 2, text.size()}) {
        QpEncoder qp;
        QByteArray encoded;
        qp.Feed(text.left(cut), encoded);
        qp.Feed(text.mid(cut), encoded);
        qp.Finish(encoded);
        for (const QByteArray &line : encoded.split('\n')) {
            QVERIFY2(line.size() <= kMaxQpLine + 1, line.constData()); // +1 for the CR
            QVERIFY(!line.endsWith(" \r") && !line.endsWith("\t\r"));
        }
        QCOMPARE(QpDecode(encoded), text);
    }
}

void TestSmtpCodec::encodingChoice_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("server8bit");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("charset");
    const int S = int(BodyEncoding::SevenBit), E = int(BodyEncoding::EightBit), Q = int(BodyEncoding::QuotedPrintable);
    QTest::newRow("ASCII short lines") << QByteArray("hello\r\n") << true << S << QByteArray("US-ASCII");
    QTest::newRow("998 octets is still fine") << QByteArray(998, 'a') << true << S << QByteArray("US-ASCII");
    QTest::newRow("999 octets needs encoding") << QByteArray(999, 'a') << true << Q << QByteArray("US-ASCII");
    QTest::newRow("long line after short ones") << QByteArray("ab\ncd\n") + QByteArray(999, 'a') + "\nx" << true << Q
                                                << QByteArray("US-ASCII");
    QTest::newRow("CRLF lines of 998 octets") << (QByteArray(998, 'a') + "\r\n").repeated(3) << true << S
                                              << QByteArray("US-ASCII");
    QTest::newRow("UTF-8, server takes 8 bit") << QByteArray("caf\xc3\xa9") << true << E << QByteArray("UTF-8");
    QTest::newRow("UTF-8, 7-bit server") << QByteArray("caf\xc3\xa9") << false << Q << QByteArray("UTF-8");
    QTest::newRow("Latin-1 file") << QByteArray("caf\xe9") << true << E << QByteArray("ISO-8859-1");
    QTest::newRow("NUL octet") << QByteArray("a\0b", 3) << true << Q << QByteArray("US-ASCII");
    QTest::newRow("long line, 8-bit at its end") << QByteArray(2000, 'a') + "\xc3\xa9" << true << Q << QByteArray("UTF-8");
}

void TestSmtpCodec::encodingChoice()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, server8bit);
    for (const bool octetwise : {false, true}) {
        BodyScan scan;
        if (octetwise) { // one octet at a time: state must carry across chunks
            for (char c : text)
                scan.Feed(QByteArrayView(&c, 1));
        } else {
            scan.Feed(text);
        }
        QTEST(int(scan.Choose(server8bit)), "encoding");
        QTEST(scan.Charset(), "charset");
    }
}

void TestSmtpCodec::envelope_data()
{
    QTest::addColumn<QStringList>("headers"); // name, value, name, value...
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QStringList>("recipients");
    QTest::newRow("To and CC, duplicates once")
        << QStringList{"From", "Me <me@x.test>", "To", "a@x.test, B <b@x.test>", "CC", "a@x.test, c@x.test"} << true
        << "me@x.test" << QStringList{"a@x.test", "b@x.test", "c@x.test"};
    QTest::newRow("empty CC is no recipient") << QStringList{"From", "me@x.test", "To", "a@x.test", "CC", ""} << true
                                              << "me@x.test" << QStringList{"a@x.test"};
    QTest::newRow("CR LF in a value is refused (injection)")
        << QStringList{"From", "me@x.test", "To", "a@x.test", "Subject", "hi\r\nBcc: victim@x.test"} << false << ""
        << QStringList{};
    QTest::newRow("bare LF in a value is refused") << QStringList{"From", "me@x.test", "To", "a@x.test\nb@x.test"}
                                                   << false << "" << QStringList{};
    QTest::newRow("header name with colon") << QStringList{"From", "me@x.test", "To", "a@x.test", "X:Y", "v"} << false
                                            << "" << QStringList{};
    QTest::newRow("no From") << QStringList{"To", "a@x.test"} << false << "" << QStringList{};
    QTest::newRow("no recipient") << QStringList{"From", "me@x.test", "CC", ""} << false << "" << QStringList{};
}

void TestSmtpCodec::envelope()
{
    QFETCH(QStringList, headers);
    QFETCH(bool, ok);
    HeaderList list;
    for (qsizetype i = 0; i + 1 < headers.size(); i += 2)
        list.append({headers[i], headers[i + 1]});
    const Envelope env = BuildEnvelope(list, BodyEncoding::SevenBit, "US-ASCII", QDateTime::currentDateTime());
    QCOMPARE(env.ok, ok);
    QVERIFY(ok || !env.error.isEmpty());
    if (ok) {
        QTEST(env.sender, "sender");
        QTEST(env.recipients, "recipients");
        QVERIFY(!env.headers.contains("Bcc"));
    }
}

void TestSmtpCodec::asciiDocumentKeepsProgramHeaders()
{
    const HeaderList program{{"To", "a@x.test"},
                             {"From", "me@x.test"},
                             {"CC", ""},
                             {"Subject", "Via Orvanta "},
                             {"Message-Id", "Orvanta Mail_1/2/26 3:04:05 PM_me@x.test"},
                             {"Content-Type", "TEXT/PLAIN charset=US-ASCII"}};
    const QDateTime when(QDate(2026, 12, 8), QTime(19, 21, 16), QTimeZone(3600));
    const Envelope ascii = BuildEnvelope(program, BodyEncoding::SevenBit, "US-ASCII", when);
    QCOMPARE(ascii.headers, QByteArray("To: a@x.test\r\nFrom: me@x.test\r\nCC:\r\nSubject: Via Orvanta \r\n"
                                       "Message-Id: Orvanta Mail_1/2/26 3:04:05 PM_me@x.test\r\n"
                                       "Content-Type: TEXT/PLAIN charset=US-ASCII\r\n"
                                       "Date: Tue, 08 Dec 2026 19:21:16 +0100\r\n\r\n"));

    // UTF-8 text: the charset must not claim US-ASCII, the encoding is named.
    const Envelope utf8 = BuildEnvelope(program, BodyEncoding::QuotedPrintable, "UTF-8", when);
    QVERIFY(utf8.headers.contains("Content-Type: TEXT/PLAIN; charset=UTF-8\r\n"));
    QVERIFY(utf8.headers.contains("MIME-Version: 1.0\r\n"));
    QVERIFY(utf8.headers.contains("Content-Transfer-Encoding: quoted-printable\r\n"));
    QVERIFY(!utf8.headers.contains("US-ASCII"));

    // A non-ASCII subject travels as encoded words, never as raw 8-bit.
    HeaderList accented = program;
    accented[3].second = QString::fromUtf8("Grüße");
    const Envelope words = BuildEnvelope(accented, BodyEncoding::SevenBit, "US-ASCII", when);
    QVERIFY(words.headers.contains("Subject: =?UTF-8?B?" + QByteArray("Grüße").toBase64() + "?="));
}

void TestSmtpCodec::hostPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("host") << "mail.example" << true << "mail.example" << 25;
    QTest::newRow("host:port") << "127.0.0.1:2525" << true << "127.0.0.1" << 2525;
    QTest::newRow("[v6]:port") << "[::1]:2525" << true << "::1" << 2525;
    QTest::newRow("[v6]") << "[::1]" << true << "::1" << 25;
    QTest::newRow("bare v6") << "::1" << true << "::1" << 25;
    QTest::newRow("port 0") << "host:0" << false << "" << 0;
    QTest::newRow("port too big") << "host:70000" << false << "" << 0;
    QTest::newRow("port not a number") << "host:smtp" << false << "" << 0;
    QTest::newRow("empty") << "" << false << "" << 0;
    QTest::newRow("unclosed bracket") << "[::1:25" << false << "" << 0;
}

void TestSmtpCodec::hostPort()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    const HostPort hp = ParseHostPort(text, 25);
    QCOMPARE(hp.ok, ok);
    if (ok) {
        QTEST(hp.host, "host");
        QTEST(int(hp.port), "port");
    }
}

QTEST_GUILESS_MAIN(TestSmtpCodec)
#include "tst_smtpcodec.moc"
