// The pure decoders behind readable mail: encoded words, transfer
// encodings, charsets, HTML as text, structured header values and the
// multipart walk, each also with its input cut between reads.
#include "mime/bodydecoder.h"
#include "mime/charsets.h"
#include "mime/encodedwords.h"
#include "mime/htmltext.h"
#include "mime/messagetext.h"
#include "mime/mimeheaders.h"
#include "mime/transferdecoding.h"
#include "pop/popreply.h"

#include <QElapsedTimer>
#include <QTest>

using namespace mime;

namespace {
struct Transfer {
    QByteArray decoded;
    QByteArray raw;
};

Transfer Undo(TransferEncoding encoding, const QByteArray &in, qsizetype chunk)
{
    TransferDecoder decoder(encoding);
    Transfer out;
    for (qsizetype at = 0; at < in.size(); at += chunk)
        decoder.Feed(QByteArrayView(in).sliced(at, qMin(chunk, in.size() - at)), &out.decoded, &out.raw);
    decoder.Finish(&out.decoded, &out.raw);
    return out;
}

QString Body(const QByteArray &headerBlock, const QByteArray &body, qsizetype chunk)
{
    QByteArrayView rest;
    BodyDecoder decoder(ParseHeaderBlock(headerBlock + "\r\n", &rest));
    QString out;
    for (qsizetype at = 0; at < body.size(); at += chunk)
        out += decoder.Feed(QByteArrayView(body).sliced(at, qMin(chunk, body.size() - at)));
    return out + decoder.Finish();
}

QByteArray Crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}
} // namespace

class TestMimeCodec : public QObject {
    Q_OBJECT
private slots:
    void encodedWords_data();
    void encodedWords();
    void quotedPrintable_data();
    void quotedPrintable();
    void base64_data();
    void base64();
    void charsets_data();
    void charsets();
    void unlabelledTextIsReadLineByLine();
    void htmlAsText_data();
    void htmlAsText();
    void structuredValues_data();
    void structuredValues();
    void multipartWalk_data();
    void multipartWalk();
    void endlessNestingShowsRawText();
    void oversizedMultipartShowsAsItCame();
    void largeAttachmentIsCountedNotShown();
    void hostileHeadersStayLinear();
    void headerFieldsShowOnOneLine_data();
    void headerFieldsShowOnOneLine();
    void nearlyMatchingLinesStayLinear_data();
    void nearlyMatchingLinesStayLinear();
    void partsShowAsTheyCome_data();
    void partsShowAsTheyCome();
    void blankEndedFoldsStayLinear_data();
    void blankEndedFoldsStayLinear();
};

void TestMimeCodec::encodedWords_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain ASCII untouched") << QByteArray("Re: lunch (today)") << QStringLiteral("Re: lunch (today)");
    QTest::newRow("Q in Latin-1") << QByteArray("=?ISO-8859-1?Q?Caf=E9_cr=E8me?=") << QStringLiteral("Café crème");
    QTest::newRow("B in UTF-8") << QByteArray("=?UTF-8?B?w6TDtsO8?=") << QStringLiteral("äöü");
    QTest::newRow("Windows-1251") << QByteArray("=?windows-1251?Q?=CF=F0=E8?=") << QStringLiteral("При");
    QTest::newRow("ISO-8859-2") << QByteArray("=?iso-8859-2?q?=A3=F3d=BC?=") << QStringLiteral("Łódź");
    QTest::newRow("blanks between words dropped") << QByteArray("=?UTF-8?Q?a?= \t =?UTF-8?Q?b?=")
                                                   << QStringLiteral("ab");
    QTest::newRow("blanks before text kept") << QByteArray("=?UTF-8?Q?a?=  b") << QStringLiteral("a  b");
    QTest::newRow("character split over two words") << QByteArray("=?UTF-8?B?4oI=?= =?UTF-8?B?rA==?=")
                                                     << QStringLiteral("€");
    QTest::newRow("language tag") << QByteArray("=?UTF-8*de?Q?Gr=C3=BC=C3=9Fe?=") << QStringLiteral("Grüße");
    QTest::newRow("word glued to text") << QByteArray("Re:=?UTF-8?Q?=C3=A9t=C3=A9?=!") << QStringLiteral("Re:été!");
    QTest::newRow("unknown encoding stays") << QByteArray("=?UTF-8?X?abc?=") << QStringLiteral("=?UTF-8?X?abc?=");
    QTest::newRow("bad base64 stays") << QByteArray("x =?UTF-8?B?a*b?= y") << QStringLiteral("x =?UTF-8?B?a*b?= y");
    QTest::newRow("bad Q escape stays") << QByteArray("=?UTF-8?Q?=G1?=") << QStringLiteral("=?UTF-8?Q?=G1?=");
    QTest::newRow("unterminated stays") << QByteArray("=?UTF-8?Q?abc") << QStringLiteral("=?UTF-8?Q?abc");
    QTest::newRow("blank inside is not a word") << QByteArray("=?UTF-8?Q?a b?=") << QStringLiteral("=?UTF-8?Q?a b?=");
    QTest::newRow("unknown charset best effort") << QByteArray("=?x-unknown?Q?caf=C3=A9?=") << QStringLiteral("café");
    QTest::newRow("raw 8-bit UTF-8") << QByteArray("M\xc3\xbcller") << QStringLiteral("Müller");
    QTest::newRow("raw 8-bit Latin-1") << QByteArray("M\xfcller") << QStringLiteral("Müller");
}

void TestMimeCodec::encodedWords()
{
    QFETCH(QByteArray, raw);
    QTEST(DecodeHeaderValue(raw), "shown");
}

void TestMimeCodec::quotedPrintable_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("escapes") << QByteArray("a=3Db=C3=A9") << QByteArray("a=b\xc3\xa9");
    QTest::newRow("lower-case hex") << QByteArray("=c3=a9") << QByteArray("\xc3\xa9");
    QTest::newRow("soft break CRLF") << QByteArray("long=\r\nline\r\n") << QByteArray("longline\r\n");
    QTest::newRow("soft break LF") << QByteArray("long=\nline") << QByteArray("longline");
    QTest::newRow("soft break with padding") << QByteArray("long= \t\r\nline") << QByteArray("longline");
    QTest::newRow("trailing blanks dropped") << QByteArray("end  \t\r\nnext \r\n") << QByteArray("end\r\nnext\r\n");
    QTest::newRow("inner blanks kept") << QByteArray("a  b\tc") << QByteArray("a  b\tc");
    QTest::newRow("encoded blank kept") << QByteArray("end=20\r\n") << QByteArray("end \r\n");
    QTest::newRow("malformed escape as written") << QByteArray("50=% off =ZZ =A") << QByteArray("50=% off =ZZ =A");
    QTest::newRow("equals then text") << QByteArray("x= y") << QByteArray("x= y");
    QTest::newRow("soft break at the very end") << QByteArray("last=") << QByteArray("last");
    QTest::newRow("blanks at the very end") << QByteArray("last  ") << QByteArray("last");
}

void TestMimeCodec::quotedPrintable()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, decoded);
    for (qsizetype chunk : {qsizetype(1), qsizetype(2), qsizetype(3), encoded.size()}) {
        const Transfer out = Undo(TransferEncoding::QuotedPrintable, encoded, chunk);
        QCOMPARE(out.decoded, decoded);
        QVERIFY(out.raw.isEmpty());
    }
}

void TestMimeCodec::base64_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("decoded");
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("lines of 76") << Crlf(QByteArray(300, 'x').toBase64().insert(76, "\n").insert(153, "\n") + "\n")
                                 << QByteArray(300, 'x') << QByteArray();
    QTest::newRow("padding") << QByteArray("YQ==\r\nYmM=\r\n") << QByteArray("abc") << QByteArray();
    QTest::newRow("no padding") << QByteArray("YWJjZA") << QByteArray("abcd") << QByteArray();
    QTest::newRow("LF only and trailing blanks") << QByteArray("YWJj \nZGVm\t\n") << QByteArray("abcdef")
                                                 << QByteArray();
    QTest::newRow("text is not base64") << QByteArray("Hello, world!\r\n") << QByteArray()
                                        << QByteArray("Hello, world!\r\n");
    QTest::newRow("plain words with blanks") << QByteArray("This is text\r\n") << QByteArray()
                                             << QByteArray("This is text\r\n");
    QTest::newRow("breaks after good lines") << QByteArray("YWJj\r\n-- \r\nfooter\r\n") << QByteArray("abc")
                                             << QByteArray("-- \r\nfooter\r\n");
}

void TestMimeCodec::base64()
{
    QFETCH(QByteArray, encoded);
    for (qsizetype chunk : {qsizetype(1), qsizetype(5), encoded.size()}) {
        const Transfer out = Undo(TransferEncoding::Base64, encoded, chunk);
        QTEST(out.decoded, "decoded");
        QTEST(out.raw, "raw");
    }
}

void TestMimeCodec::charsets_data()
{
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTF-8") << QByteArray("utf-8") << QByteArray("\xe2\x82\xac \xf0\x9f\x98\x80")
                           << QStringLiteral("€ 😀");
    QTest::newRow("quoted label") << QByteArray("\"UTF-8\"") << QByteArray("\xc3\xa4") << QStringLiteral("ä");
    QTest::newRow("ISO-8859-2") << QByteArray("ISO-8859-2") << QByteArray("\xb1\xe6\xea") << QStringLiteral("ąćę");
    QTest::newRow("ISO-8859-15") << QByteArray("iso-8859-15") << QByteArray("\xa4") << QStringLiteral("€");
    QTest::newRow("Latin-1 with 1252 quotes") << QByteArray("iso-8859-1") << QByteArray("\x93hi\x94 \xe9")
                                              << QStringLiteral("“hi” é");
    QTest::newRow("Windows-1250") << QByteArray("windows-1250") << QByteArray("\x8a\x9a") << QStringLiteral("Šš");
    QTest::newRow("Windows-1251") << QByteArray("cp1251") << QByteArray("\xc4\xe0") << QStringLiteral("Да");
    QTest::newRow("KOI8-R") << QByteArray("koi8-r") << QByteArray("\xe4\xc1") << QStringLiteral("Да");
    QTest::newRow("Shift_JIS") << QByteArray("shift_jis") << QByteArray("\x93\xfa\x96\x7b") << QStringLiteral("日本");
    QTest::newRow("unknown: UTF-8") << QByteArray("x-martian") << QByteArray("\xc3\xa4") << QStringLiteral("ä");
    QTest::newRow("unknown: Latin-1") << QByteArray("x-martian") << QByteArray("\xe4") << QStringLiteral("ä");
    QTest::newRow("US-ASCII with 8-bit") << QByteArray("us-ascii") << QByteArray("\xe4") << QStringLiteral("ä");
}

void TestMimeCodec::charsets()
{
    QFETCH(QByteArray, charset);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(DecodeCharset(bytes, charset), text);
    TextDecoder decoder(charset); // one octet at a time: characters span reads
    QString streamed;
    for (char c : bytes)
        streamed += decoder.Decode(QByteArrayView(&c, 1));
    QCOMPARE(streamed + decoder.Finish(), text);
}

void TestMimeCodec::unlabelledTextIsReadLineByLine()
{
    // Each line is judged on its own, the same whatever the reads; a line
    // longer than what is held at once is still decoded whole.
    const QByteArray input = "ascii\r\nGr\xc3\xbc\xc3\x9f" "e\r\nGr\xfc\xdf" "e\r\n" + QByteArray(200000, 'a')
                             + "\xc3\xa4\r\n" + QByteArray(70000, 'b') + "\xe4";
    const QString expected = QStringLiteral("ascii\r\nGrüße\r\nGrüße\r\n") + QString(200000, QLatin1Char('a'))
                             + QStringLiteral("ä\r\n") + QString(70000, QLatin1Char('b')) + QStringLiteral("ä");
    for (qsizetype chunk : {qsizetype(1), qsizetype(7), qsizetype(65536), input.size()}) {
        Utf8OrLatin1Decoder decoder;
        QString out;
        for (qsizetype at = 0; at < input.size(); at += chunk)
            out += decoder.Decode(QByteArrayView(input).sliced(at, qMin(chunk, input.size() - at)));
        out += decoder.Finish();
        QCOMPARE(out.size(), expected.size());
        QVERIFY2(out == expected, qPrintable(QStringLiteral("chunk %1").arg(chunk)));
    }
    // ASCII is handed on at once, not held for the line's end.
    Utf8OrLatin1Decoder decoder;
    QCOMPARE(decoder.Decode("no line end yet"), QStringLiteral("no line end yet"));
}

void TestMimeCodec::htmlAsText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("blanks collapse") << QStringLiteral("a \n\t b") << QStringLiteral("a b");
    QTest::newRow("blank before an inline tag") << QStringLiteral("a <b>b</b> <i>c</i>") << QStringLiteral("a b c");
    QTest::newRow("br and p") << QStringLiteral("one<br>two<BR/>three<p>four</p>five")
                              << QStringLiteral("one\r\ntwo\r\nthree\r\n\r\nfour\r\n\r\nfive");
    QTest::newRow("entities") << QStringLiteral("&lt;&amp;&gt; &quot;x&quot; &#65;&#x42;&nbsp;&euro;")
                              << QStringLiteral("<&> \"x\" AB €");
    QTest::newRow("not entities") << QStringLiteral("AT&T &unknown; &#xD800; a&b")
                                  << QStringLiteral("AT&T &unknown; \uFFFD a&b");
    QTest::newRow("script, style, title skipped")
        << QStringLiteral("<head><title>t</title></head><style>x{}</style>a<script>if (a<b) x(\"</p>\");</SCRIPT >b")
        << QStringLiteral("ab");
    QTest::newRow("self-closed script skips nothing") << QStringLiteral("<script src='x.js'/>shown")
                                                      << QStringLiteral("shown");
    QTest::newRow("comment skipped") << QStringLiteral("a<!-- <p>hidden</p> -->b") << QStringLiteral("ab");
    QTest::newRow("quoted > in attribute") << QStringLiteral("<a title=\"1 > 0\" href='x'>link</a>")
                                           << QStringLiteral("link");
    QTest::newRow("list items") << QStringLiteral("<ul><li>a<li>b</ul>") << QStringLiteral("* a\r\n* b\r\n");
    QTest::newRow("table cells") << QStringLiteral("<table><tr><td>a</td><td>b</td></tr></table>")
                                 << QStringLiteral("a b\r\n\r\n");
    QTest::newRow("pre keeps blanks") << QStringLiteral("<pre>a  b\n c</pre>") << QStringLiteral("a  b\r\n c\r\n");
    QTest::newRow("unclosed tag at the end dropped") << QStringLiteral("text<a href=") << QStringLiteral("text");
}

void TestMimeCodec::htmlAsText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    HtmlToText whole;
    const QString fed = whole.Feed(html);
    QCOMPARE(fed + whole.Finish(), text);
    HtmlToText split;
    QString out;
    for (QChar c : html)
        out += split.Feed(QStringView(&c, 1));
    QCOMPARE(out + split.Finish(), text);
}

void TestMimeCodec::structuredValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("param");
    QTest::addColumn<QString>("paramValue");
    QTest::newRow("quoted") << QByteArray("text/plain; charset=\"utf-8\"") << QByteArray("text/plain")
                            << QByteArray("charset") << QStringLiteral("utf-8");
    QTest::newRow("no semicolon") << QByteArray("TEXT/PLAIN charset=US-ASCII") << QByteArray("text/plain")
                                  << QByteArray("charset") << QStringLiteral("US-ASCII");
    QTest::newRow("comments") << QByteArray("multipart/mixed (note); boundary=b1 (why)") << QByteArray("multipart/mixed")
                              << QByteArray("boundary") << QStringLiteral("b1");
    QTest::newRow("escaped quote") << QByteArray("attachment; filename=\"a \\\"b\\\".txt\"") << QByteArray("attachment")
                                   << QByteArray("filename") << QStringLiteral("a \"b\".txt");
    QTest::newRow("RFC 2231 charset") << QByteArray("attachment; filename*=iso-8859-1'de'M%FCller.pdf")
                                      << QByteArray("attachment") << QByteArray("filename") << QStringLiteral("Müller.pdf");
    QTest::newRow("RFC 2231 continuations out of order")
        << QByteArray("attachment; filename*1=\"two.\"; filename*0=\"one-\"; filename*2=txt") << QByteArray("attachment")
        << QByteArray("filename") << QStringLiteral("one-two.txt");
    QTest::newRow("RFC 2047 in a quoted name") << QByteArray("image/png; name=\"=?UTF-8?Q?B=C3=A4r.png?=\"")
                                               << QByteArray("image/png") << QByteArray("name") << QStringLiteral("Bär.png");
    QTest::newRow("parameter name in any case") << QByteArray("text/html; CharSet=koi8-r") << QByteArray("text/html")
                                                << QByteArray("charset") << QStringLiteral("koi8-r");
}

void TestMimeCodec::structuredValues()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, param);
    const StructuredValue parsed = ParseStructuredValue(value);
    QTEST(parsed.token, "token");
    QTEST(parsed.params.value(param), "paramValue");
}

void TestMimeCodec::multipartWalk_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    const QByteArray mixed = "Content-Type: multipart/mixed; boundary=\"b\"";
    QTest::newRow("a longer line is not the delimiter")
        << mixed << Crlf("--b\n\none\n--bx\ntwo\n--b--\n") << QStringLiteral("one\r\n--bx\r\ntwo");
    QTest::newRow("delimiter with trailing blanks")
        << mixed << Crlf("--b  \n\none\n--b-- \n") << QStringLiteral("one");
    QTest::newRow("HTML chosen when there is no plain text")
        << QByteArray("Content-Type: multipart/alternative; boundary=a")
        << Crlf("--a\nContent-Type: text/enriched\n\n<bold>x</bold>\n--a\nContent-Type: text/html\n\n<b>y</b>\n--a--\n")
        << QStringLiteral("y");
    QTest::newRow("inline text parts in order, attachment between")
        << mixed
        << Crlf("--b\n\nfirst\n--b\nContent-Type: image/gif; name=x.gif\n\nGIF\n--b\nContent-Type: text/plain\n\nsecond\n--b--\n")
        << QStringLiteral("first\r\n[Attachment: x.gif, 3 bytes]\r\nsecond");
    QTest::newRow("a name that would break the line")
        << mixed << Crlf("--b\nContent-Type: application/x; name=\"a=?UTF-8?Q?=0D=0A?=b\"\n\nz\n--b--\n")
        << QStringLiteral("[Attachment: a  b, 1 byte]\r\n");
    QTest::newRow("an override in a name is marked")
        << mixed << Crlf("--b\nContent-Type: application/x; name=\"=?UTF-8?Q?a=E2=80=AEfdp.exe?=\"\n\nz\n--b--\n")
        << QStringLiteral("[Attachment: a\uFFFDfdp.exe, 1 byte]\r\n");
    QTest::newRow("padding cannot fake a second attachment line")
        << mixed
        << Crlf("--b\nContent-Type: application/x; name=\"a.pdf" + QByteArray(200, ' ')
                + "[Attachment: b.pdf, 9 bytes]\"\n\nz\n--b--\n")
        << QStringLiteral("[Attachment: a.pdf [Attachment: b.pdf, 9 bytes], 1 byte]\r\n");
    QTest::newRow("digest parts are messages")
        << QByteArray("Content-Type: multipart/digest; boundary=d")
        << Crlf("--d\n\nSubject: one\n\nbody\n--d--\n") << QStringLiteral("[Attachment: message/rfc822, 20 bytes]\r\n");
    QTest::newRow("no delimiter at all: raw body")
        << mixed << QByteArray("just text\r\n") << QStringLiteral("just text\r\n");
    QTest::newRow("plain text chosen though HTML comes first")
        << QByteArray("Content-Type: multipart/alternative; boundary=a")
        << Crlf("--a\nContent-Type: text/html\n\n<b>y</b>\n--a\nContent-Type: text/plain\n\nplain\n--a--\n")
        << QStringLiteral("plain");
    QTest::newRow("the last delimiter needs no line break") << mixed << Crlf("--b\n\none\n--b--") << QStringLiteral("one");
    QTest::newRow("a header line right before the delimiter")
        << mixed << Crlf("--b\nContent-Type: image/gif\n--b--\n") << QStringLiteral("[Attachment: image/gif, 0 bytes]\r\n");
    const QByteArray tooLong(kMaxBoundary + 1, 'l');
    QTest::newRow("a boundary no line can hold: raw body")
        << "Content-Type: multipart/mixed; boundary=" + tooLong << Crlf("--" + tooLong + "\n\nx\n")
        << QString::fromLatin1(Crlf("--" + tooLong + "\n\nx\n"));
}

void TestMimeCodec::multipartWalk()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    for (qsizetype chunk : {qsizetype(1), qsizetype(3), body.size()})
        QTEST(Body(headers, body, chunk), "text");
}

void TestMimeCodec::endlessNestingShowsRawText()
{
    QByteArray body;
    for (int depth = 0; depth < 5000; ++depth)
        body += "--b" + QByteArray::number(depth) + "\r\nContent-Type: multipart/mixed; boundary=b"
                + QByteArray::number(depth + 1) + "\r\n\r\n";
    body += "deep\r\n";
    const QString text = Body("Content-Type: multipart/mixed; boundary=b0", body, body.size());
    QVERIFY(text.endsWith(QStringLiteral("deep\r\n")));
    QVERIFY(text.contains(QStringLiteral("--b4999")));
}

void TestMimeCodec::oversizedMultipartShowsAsItCame()
{
    // No delimiter in sight: nothing is dropped, the body shows as it came.
    const QByteArray line = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\r\n";
    BodyDecoder decoder(QList<HeaderField>{{"Content-Type", "multipart/mixed; boundary=z"}});
    qint64 shownChars = 0, fed = 0;
    const QByteArray chunk = line.repeated(16384); // 1 MiB
    while (fed <= kMaxPreamble) {
        shownChars += decoder.Feed(chunk).size();
        fed += chunk.size();
    }
    shownChars += decoder.Finish().size();
    QCOMPARE(shownChars, fed);
}

void TestMimeCodec::largeAttachmentIsCountedNotShown()
{
    const QByteArray data(3 * 1000 * 1000 + 1, '\x7f');
    const QByteArray base64 = data.toBase64();
    QByteArray encoded;
    for (qsizetype at = 0; at < base64.size(); at += 76)
        encoded += base64.mid(at, 76) + (at + 76 < base64.size() ? "\r\n" : "");
    const QByteArray body = "--q\r\nContent-Type: text/plain\r\n\r\nSee attached.\r\n--q\r\nContent-Type: application/zip;"
                            " name=big.zip\r\nContent-Transfer-Encoding: base64\r\n\r\n" + encoded + "\r\n--q--\r\n";
    QCOMPARE(Body("Content-Type: multipart/mixed; boundary=q", body, 65536),
             QStringLiteral("See attached.\r\n[Attachment: big.zip, 3,000,001 bytes]\r\n"));
}

void TestMimeCodec::hostileHeadersStayLinear()
{
    // A megabyte of would-be encoded words and of folded lines: each is
    // decoded in one pass (a quadratic scan would not finish in the test's
    // time), and nothing of the text is lost.
    const QByteArray words = QByteArray("=?a?b?").repeated(170000);
    QCOMPARE(DecodeHeaderValue(words).size(), words.size());
    const QByteArray folded = "Subject: start\r\n" + QByteArray(" x\r\n").repeated(250000) + "\r\nbody";
    QByteArrayView body;
    const QList<HeaderField> fields = ParseHeaderBlock(folded, &body);
    QCOMPARE(fields.size(), 1);
    QCOMPARE(fields[0].second.size(), qsizetype(5 + 2 * 250000));
    QCOMPARE(body, QByteArrayView("body"));
}

void TestMimeCodec::headerFieldsShowOnOneLine_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("decode");
    QTest::addColumn<QString>("shown");
    QTest::newRow("encoded CR LF forges no From line")
        << QByteArray("Hi=?UTF-8?Q?=0D=0AFrom:_ceo@yourbank.example?=") << true
        << QStringLiteral("Hi  From: ceo@yourbank.example");
    QTest::newRow("encoded U+2028 and U+2029 forge no lines")
        << QByteArray("=?UTF-8?Q?a=E2=80=A8Reply-To:_x=E2=80=A9b?=") << true << QStringLiteral("a Reply-To: x b");
    QTest::newRow("encoded override is marked") << QByteArray("=?UTF-8?Q?x=E2=80=AEy?=") << true
                                                << QStringLiteral("x\uFFFDy");
    QTest::newRow("raw U+2028 in the source") << QByteArray("a\xE2\x80\xA8" "b") << false << QStringLiteral("a b");
    QTest::newRow("ordinary value as sent") << QByteArray("Re: lunch") << true << QStringLiteral("Re: lunch");
}

void TestMimeCodec::headerFieldsShowOnOneLine()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, decode);
    const MessageText text({{"Subject", value}}, decode);
    QCOMPARE(text.Headers().size(), 1);
    QCOMPARE(text.Headers().at(0).first, QStringLiteral("Subject"));
    QTEST(text.Headers().at(0).second, "shown");
}

void TestMimeCodec::nearlyMatchingLinesStayLinear_data()
{
    QTest::addColumn<int>("boundaryLength");
    QTest::addColumn<int>("megabytes");
    QTest::addColumn<bool>("raw");
    // Each body line is the delimiter with its last character changed.
    // Searched boundary by boundary, these took 35 s and about 10 s.
    QTest::newRow("a 40,000-character boundary: raw body") << 40000 << 4 << true;
    QTest::newRow("the longest boundary taken") << int(kMaxBoundary) << 48 << false;
}

void TestMimeCodec::nearlyMatchingLinesStayLinear()
{
    QFETCH(int, boundaryLength);
    QFETCH(int, megabytes);
    const QByteArray boundary(boundaryLength, 'b');
    const QByteArray nearly = "--" + boundary.chopped(1) + "c\r\n";
    QByteArray body = "--" + boundary + "\r\nContent-Type: application/x\r\n\r\n";
    const qsizetype start = body.size();
    body.reserve(megabytes * 1024 * 1024 + 2 * nearly.size());
    while (body.size() < megabytes * 1024 * 1024)
        body += nearly;
    const qsizetype partSize = body.size() - start - 2; // the last line break goes with the delimiter
    body += "--" + boundary + "--\r\n";
    QElapsedTimer timer;
    timer.start();
    const QString text = Body("Content-Type: multipart/mixed; boundary=" + boundary, body, 64 * 1024);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    QFETCH(bool, raw);
    if (raw)
        QCOMPARE(text.size(), body.size());
    else
        QCOMPARE(text, AttachmentLine(QString(), "application/x", partSize));
}

void TestMimeCodec::partsShowAsTheyCome_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qsizetype>("fed");
    QTest::addColumn<QString>("shownByThen");
    // A large multipart must not leave all its decoding to its end.
    const QByteArray attachment = "--b\r\nContent-Type: application/zip\r\n\r\n";
    const QByteArray big = QByteArray("UEsDBAoAAAAAAAAAIQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n").repeated(50000);
    const QByteArray mixed = "--b\r\n\r\nfirst part\r\n" + attachment + big + "\r\n--b--\r\n";
    QTest::newRow("text before a large attachment")
        << QByteArray("Content-Type: multipart/mixed; boundary=b") << mixed << mixed.size() - big.size() / 2
        << QStringLiteral("first part");
    const QByteArray plain = QByteArray("a line of plain text\r\n").repeated(100000);
    const QByteArray alternative = "--a\r\nContent-Type: text/plain\r\n\r\n" + plain
                                   + "--a\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--a--\r\n";
    QTest::newRow("plain text before its HTML")
        << QByteArray("Content-Type: multipart/alternative; boundary=a") << alternative
        << alternative.indexOf("--a", 4) << QString::fromLatin1(plain.chopped(2));
}

void TestMimeCodec::partsShowAsTheyCome()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(qsizetype, fed);
    QByteArrayView rest;
    BodyDecoder decoder(ParseHeaderBlock(headers + "\r\n\r\n", &rest));
    QString shown;
    for (qsizetype at = 0; at < fed; at += 65536)
        shown += decoder.Feed(QByteArrayView(body).sliced(at, qMin<qsizetype>(65536, fed - at)));
    QTEST(shown, "shownByThen");
    // The close delimiter ends the work too: nothing is left for the end.
    decoder.Feed(QByteArrayView(body).sliced(fed));
    QCOMPARE(decoder.Finish(), QString());
}

void TestMimeCodec::blankEndedFoldsStayLinear_data()
{
    QTest::addColumn<int>("where");
    QTest::addColumn<int>("lines");
    // Folded lines that end in blanks: a value trimmed again after each
    // line took 2.8 s for one megabyte, and grows with its square.
    QTest::newRow("a header block") << 0 << 400000;
    QTest::newRow("a part's header in a multipart") << 1 << 200000;
    QTest::newRow("a retrieved message's header") << 2 << 200000;
}

void TestMimeCodec::blankEndedFoldsStayLinear()
{
    QFETCH(int, where);
    QFETCH(int, lines);
    const QByteArray folds = QByteArray(" x \r\n").repeated(lines);
    const qsizetype valueSize = 1 + 3 * qsizetype(lines); // "a; x x ... x"
    QElapsedTimer timer;
    timer.start();
    if (where == 0) {
        const QByteArray entity = "Subject: a;\r\n" + folds + "\r\nbody";
        QByteArrayView body;
        const QList<HeaderField> fields = ParseHeaderBlock(entity, &body);
        QCOMPARE(fields.size(), 1);
        QCOMPARE(fields[0].second.size(), valueSize);
        QCOMPARE(body, QByteArrayView("body"));
    } else if (where == 1) {
        const QByteArray body = "--b\r\nContent-Type: text/plain;\r\n" + folds + "\r\nbody\r\n--b--\r\n";
        QCOMPARE(Body("Content-Type: multipart/mixed; boundary=b", body, 65536), QStringLiteral("body"));
    } else {
        pop::RetrDecoder decoder;
        decoder.Feed("Subject: a;\r\n" + folds + "\r\nbody\r\n.\r\n");
        QVERIFY(decoder.Done());
        QCOMPARE(decoder.Headers().size(), 1);
        QCOMPARE(decoder.Headers()[0].second.size(), valueSize);
    }
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestMimeCodec)
#include "tst_mimecodec.moc"
