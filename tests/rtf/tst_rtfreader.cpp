// The RTF reader: text, code pages, Unicode escapes, skipped destinations,
// character formats, and input that is broken or hostile.
#include "rtfreader.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {
// The document's characters as stored, blocks joined by '\n' (unlike
// toPlainText, keeps no-break spaces and line separators apart).
QString Text(const QTextDocument &doc)
{
    return doc.toRawText().replace(QChar::ParagraphSeparator, u'\n');
}

// One digit per character: 1 bold, 2 italic, 4 underline, 8 strike-out (hex).
QString Formats(const QTextDocument &doc)
{
    QString out;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            const int bits = (f.fontWeight() >= QFont::Bold ? 1 : 0) | (f.fontItalic() ? 2 : 0)
                | (f.fontUnderline() ? 4 : 0) | (f.fontStrikeOut() ? 8 : 0);
            out += QString(it.fragment().length(), QChar(u"0123456789abcdef"[bits]));
        }
    }
    return out;
}

QByteArray Doc(const QByteArray &body)
{
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}}" + body + "}";
}
} // namespace

class TestRtfReader : public QObject {
    Q_OBJECT
private slots:
    void header_data();
    void header();
    void text_data();
    void text();
    void formats_data();
    void formats();
    void rejected_data();
    void rejected();
    void replacesContentWithoutUndo();
    void deepButSaneNesting();
    void randomInputNeverBreaks();
};

void TestRtfReader::header_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("rtf");
    QTest::newRow("plain header") << QByteArray("{\\rtf1\\ansi x}") << true;
    QTest::newRow("BOM and blank lines") << QByteArray("\xEF\xBB\xBF \r\n{\\rtf1 x}") << true;
    QTest::newRow("plain text") << QByteArray("Dear Ann,\r\n") << false;
    QTest::newRow("header later in the text") << QByteArray("see {\\rtf1 x}") << false;
    QTest::newRow("cut short") << QByteArray("{\\rt") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestRtfReader::header()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, rtf);
    QCOMPARE(LooksLikeRtf(data), rtf);
}

void TestRtfReader::text_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");

    QTest::newRow("editor-made document")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 "
                      "Calibri;}{\\f1\\fswiss\\fprq2\\fcharset0 Arial{\\*\\falt Helv};}}\r\n"
                      "{\\colortbl ;\\red255\\green0\\blue0;}\r\n{\\*\\generator Writer 1.0;}\\viewkind4\\uc1 \r\n"
                      "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 Hello \\cf1 world\\cf0 ,\\par\r\n"
                      "Second\\tab line\\par\r\n}\r\n") + QByteArray(1, '\0')
        << u"Hello world,\nSecond\tline"_qs;
    QTest::newRow("hex in cp1252") << Doc("caf\\'e9 \\'80 \\'E9") << u"café € é"_qs;
    QTest::newRow("cp1251") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}") << u"Привет"_qs;
    QTest::newRow("cp1250") << QByteArray("{\\rtf1\\ansi\\ansicpg1250 \\'b9\\'9e}") << u"ąž"_qs;
    QTest::newRow("cp1253") << QByteArray("{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2}") << u"αβ"_qs;
    QTest::newRow("mac") << QByteArray("{\\rtf1\\mac \\'8e}") << u"é"_qs;
    QTest::newRow("unknown code page reads as 1252") << QByteArray("{\\rtf1\\ansi\\ansicpg7 \\'e9}") << u"é"_qs;
    QTest::newRow("raw 8-bit bytes use the code page") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \xc4\xe0}") << u"Да"_qs;
    QTest::newRow("font charset picks the code page")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
                      "{\\f1\\fswiss\\fcharset204 Arial;}}\\f0 caf\\'e9 {\\f1\\'e4\\'e0} \\'e9}")
        << u"café да é"_qs;

    QTest::newRow("unicode with fallback") << Doc("\\u8364?5") << u"€5"_qs;
    QTest::newRow("uc0") << Doc("\\uc0\\u8364 x") << u"€x"_qs;
    QTest::newRow("uc2") << Doc("\\uc2\\u8364 EUR") << u"€R"_qs;
    QTest::newRow("hex fallback counts as one")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1251\\uc1\\u1055\\'cf\\u1088\\'f0}") << u"Пр"_qs;
    QTest::newRow("uc is scoped to its group") << Doc("{\\uc2\\u8364 ab}\\u8364 cd") << u"€€d"_qs;
    QTest::newRow("brace ends the fallback") << Doc("{\\u8364}x") << u"€x"_qs;
    QTest::newRow("surrogate pair") << Doc("\\u-10179?\\u-8704?!") << u"\U0001F600!"_qs;
    QTest::newRow("lone high surrogate") << Doc("\\u-10179?x") << u"\uFFFDx"_qs;
    QTest::newRow("lone low surrogate") << Doc("\\u-8704?x") << u"\uFFFDx"_qs;

    QTest::newRow("escaped braces and backslash") << Doc("a\\\\b\\{c\\}") << u"a\\b{c}"_qs;
    QTest::newRow("special spaces and hyphens") << Doc("a\\~b\\-c\\_d") << u"a\u00A0bc\u2011d"_qs;
    QTest::newRow("named characters")
        << Doc("\\emdash\\endash\\bullet\\lquote x\\rquote\\ldblquote y\\rdblquote")
        << u"—–•‘x’“y”"_qs;
    QTest::newRow("line, page and section breaks") << Doc("a\\line b\\page c\\sect d") << u"a\u2028b\nc\nd"_qs;
    QTest::newRow("empty paragraphs kept, last mark dropped") << Doc("a\\par\\par b\\par") << u"a\n\nb"_qs;
    QTest::newRow("file line breaks ignored") << Doc("Hel\r\nlo\rworld\n") << u"Helloworld"_qs;
    QTest::newRow("backslash before line break is a paragraph") << Doc("a\\\r\nb") << u"a\nb"_qs;
    QTest::newRow("control characters dropped") << Doc("a\\'00b\\'0dc\x01" "d\te") << u"abcd\te"_qs;
    QTest::newRow("table cells and rows")
        << Doc("\\trowd\\cellx1000\\cellx2000\\intbl A\\cell B\\cell\\row\\trowd\\intbl \\cell C\\cell\\row D")
        << u"A\tB\n\tC\nD"_qs;

    QTest::newRow("bin data with braces in a picture")
        << Doc("a{\\*\\blipuid\\bin4 }}{\\}b{\\pict\\bin3 \\'}}c") << u"abc"_qs;
    QTest::newRow("bin data in text skipped") << Doc("a\\bin2 xyb") << u"ab"_qs;
    QTest::newRow("nested destinations") << Doc("A{\\info{\\title T{\\b x}}{\\author Me}}B") << u"AB"_qs;
    QTest::newRow("unknown starred destination") << Doc("A{\\*\\unknown {x}y\\par}B") << u"AB"_qs;
    QTest::newRow("headers, footers, footnotes")
        << Doc("A{\\header H}{\\footer F}{\\footnote N}{\\pict 0102ff}B") << u"AB"_qs;
    QTest::newRow("hyperlink keeps its text")
        << Doc("See {\\field{\\*\\fldinst{HYPERLINK \"http://example.com/\"}}{\\fldrslt{\\ul\\cf1 Example}}}.")
        << u"See Example."_qs;
    QTest::newRow("old-style field instruction")
        << Doc("{\\field{\\fldinst PAGE}{\\fldrslt 3}}") << u"3"_qs;
    QTest::newRow("list bullet text kept, numbering skipped")
        << Doc("{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb\\'B7}}Item") << u"·\tItem"_qs;
    QTest::newRow("hidden text") << Doc("a{\\v secret\\u8364?}b\\v c\\v0 d\\v e\\plain f") << u"abdf"_qs;
    QTest::newRow("nothing after the document") << QByteArray("{\\rtf1 x}\r\n\0\0", 13) << u"x"_qs;
    QTest::newRow("empty document") << QByteArray("{\\rtf1}") << QString();
}

void TestRtfReader::text()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QTextDocument doc;
    QVERIFY(ReadRtf(data, &doc));
    QCOMPARE(Text(doc), text);
}

void TestRtfReader::formats_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formats");
    QTest::newRow("groups restore") << QByteArray("a{\\b b\\i c}d") << u"abcd"_qs << u"0130"_qs;
    QTest::newRow("switches")
        << QByteArray("\\b a\\b0 b\\ul c\\ulnone d\\ul e\\ul0 f\\i g\\plain h\\b1 i\\strike j")
        << u"abcdefghij"_qs << u"1040402019"_qs;
    QTest::newRow("other underlines") << QByteArray("\\uldb a\\ulw b\\ul0 c") << u"abc"_qs << u"440"_qs;
    QTest::newRow("skipped group does not leak")
        << QByteArray("{\\*\\x \\b}a{\\fonttbl\\b}b") << u"ab"_qs << u"00"_qs;
    QTest::newRow("fallback words are not applied") << QByteArray("\\uc1\\u8364\\b x") << u"€x"_qs << u"00"_qs;
    QTest::newRow("across paragraphs") << QByteArray("\\i a\\par b\\i0 c") << u"a\nbc"_qs << u"220"_qs;
}

void TestRtfReader::formats()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(QString, formats);
    QTextDocument doc;
    QVERIFY(ReadRtf(Doc(body), &doc));
    QCOMPARE(Text(doc), text);
    QCOMPARE(Formats(doc), formats); // block separators have no digit
}

void TestRtfReader::rejected_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("no header") << QByteArray("Hello {\\b there}");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("outer group never closed") << QByteArray("{\\rtf1 abc{\\b x}");
    QTest::newRow("closes more than it opens") << QByteArray("{\\rtf1 a}}");
    QTest::newRow("truncated in a control word") << QByteArray("{\\rtf1\\ansi Hello\\pa");
    QTest::newRow("truncated in a hex escape") << QByteArray("{\\rtf1 caf\\'e");
    QTest::newRow("truncated after a backslash") << QByteArray("{\\rtf1 x\\");
    QTest::newRow("bin longer than the data") << QByteArray("{\\rtf1 {\\pict\\bin99999999999999999999 }}");
    QTest::newRow("100000 nested groups")
        << QByteArray("{\\rtf1 ") + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + "}";
}

void TestRtfReader::rejected()
{
    QFETCH(QByteArray, data);
    QTextDocument doc;
    doc.setPlainText(u"previous"_qs);
    QVERIFY(!ReadRtf(data, &doc));
    QVERIFY(doc.isEmpty());
}

void TestRtfReader::replacesContentWithoutUndo()
{
    QTextDocument doc;
    doc.setPlainText(u"old text"_qs);
    QVERIFY(ReadRtf(Doc("new \\b text"), &doc));
    QCOMPARE(Text(doc), u"new text"_qs);
    QVERIFY(!doc.isUndoAvailable());
    QVERIFY(doc.isUndoRedoEnabled());
}

void TestRtfReader::deepButSaneNesting()
{
    QTextDocument doc;
    QVERIFY(ReadRtf("{\\rtf1 " + QByteArray(998, '{') + "\\b x" + QByteArray(998, '}') + "y}", &doc));
    QCOMPARE(Text(doc), u"xy"_qs);
    QCOMPARE(Formats(doc), u"10"_qs);
    QVERIFY(!ReadRtf("{\\rtf1 " + QByteArray(1000, '{') + QByteArray(1000, '}') + "}", &doc));
}

void TestRtfReader::randomInputNeverBreaks()
{
    const QByteArray sample = Doc(
        "{\\*\\generator x;}\\uc1 A\\'e9\\u8364?{\\b B\\i C}\\par{\\field{\\*\\fldinst HYPERLINK}{\\fldrslt L}}"
        "\\u-10179?\\u-8704?{\\pict\\bin3 {}}}\\uc2\\u1055 ab\\ansicpg1251\\'cf\\tab\\line\\~\\{\\}\\\\");
    static const char *const pieces[] = {"{", "}", "\\", "\\'", "\\u", "\\uc", "\\bin", "\\*", "\\par",
                                        "\\u-10179", "\\u-8704", "-", "9", "\\ansicpg1251", "\\b", "\\'d8"};
    QRandomGenerator random(20261208);
    QTextDocument doc;
    QVERIFY(ReadRtf(sample, &doc));
    for (int round = 0; round < 4000; ++round) {
        QByteArray data = sample;
        const int edits = 1 + int(random.bounded(8));
        for (int e = 0; e < edits && !data.isEmpty(); ++e) {
            const qsizetype at = random.bounded(int(data.size()));
            switch (random.bounded(4)) {
            case 0: data[at] = char(random.bounded(256)); break;
            case 1: data.insert(at, pieces[random.bounded(int(std::size(pieces)))]); break;
            case 2: data.remove(at, 1 + random.bounded(6)); break;
            default: data.truncate(qMax<qsizetype>(at, 6)); break;
            }
        }
        if (round % 4 == 3) { // pure noise after a header
            data = "{\\rtf1 ";
            for (int i = random.bounded(300); i > 0; --i)
                data += char(random.bounded(256));
        }
        const bool ok = ReadRtf(data, &doc);
        const QString text = doc.toRawText();
        if (!ok)
            QVERIFY2(doc.isEmpty(), data.toHex().constData());
        QVERIFY2(QStringView(text).isValidUtf16(), data.toHex().constData());
    }
}

QTEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
