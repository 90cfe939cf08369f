// The octet-level helpers under the protocol library and the text readers:
// UTF-8 validity at the edges of RFC 3629, ASCII runs across the eight-octet
// words they are read in, and hexadecimal digits.
#include "asciirun.h"
#include "hexdigits.h"
#include "oneline.h"
#include "utf8text.h"

#include <QTest>

using namespace textcore;
using namespace Qt::StringLiterals;

class TestTextCore : public QObject {
    Q_OBJECT
private slots:
    void utf8Validity_data();
    void utf8Validity();
    void utf8LeadOctets();
    void utf8CutByTheEndOfItsView();
    void utf8OrLatin1();
    void asciiRunStopsAtEveryOffset();
    void hexDigits();
    void oneLine_data();
    void oneLine();
};

void TestTextCore::utf8Validity_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("ASCII with NUL") << QByteArray("a\0b", 3) << true;
    QTest::newRow("U+0080, least of two octets") << QByteArray("\xC2\x80") << true;
    QTest::newRow("overlong two octets") << QByteArray("\xC1\xBF") << false;
    QTest::newRow("U+0800, least of three") << QByteArray("\xE0\xA0\x80") << true;
    QTest::newRow("overlong three octets") << QByteArray("\xE0\x9F\xBF") << false;
    QTest::newRow("U+D7FF, below the surrogates") << QByteArray("\xED\x9F\xBF") << true;
    QTest::newRow("surrogate U+D800") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("surrogate U+DFFF") << QByteArray("\xED\xBF\xBF") << false;
    QTest::newRow("U+10000, least of four") << QByteArray("\xF0\x90\x80\x80") << true;
    QTest::newRow("overlong four octets") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("U+10FFFF, the last") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("F5 starts nothing") << QByteArray("\xF5\x80\x80\x80") << false;
    QTest::newRow("lone continuation") << QByteArray("abc\x80") << false;
    QTest::newRow("cut at the end") << QByteArray("abc\xE2\x82") << false;
    QTest::newRow("cut by ASCII") << QByteArray("\xE2\x82" "abc") << false;
    // The ASCII before a sequence is skipped a word at a time.
    QTest::newRow("sequence across a word edge") << QByteArray("1234567\xC3\xA9") << true;
    QTest::newRow("sequence after two words") << QByteArray("12345678abcdefgh\xE2\x82\xAC") << true;
    QTest::newRow("bad octet after two words") << QByteArray("12345678abcdefgh\xFF") << false;
    QTest::newRow("cut after a word") << QByteArray("12345678\xF0\x9F\x98") << false;
}

void TestTextCore::utf8Validity()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(IsValidUtf8(bytes), valid);
    // Qt's decoder agrees: valid text survives the round trip, anything
    // else gains replacement marks.
    QCOMPARE(QString::fromUtf8(bytes).toUtf8() == bytes, valid);
}

void TestTextCore::utf8LeadOctets()
{
    // RFC 3629 4: what may start a sequence, and how many octets follow.
    const QList<QPair<int, int>> leads = {{0x00, 0},  {0x7F, 0},  {0x80, -1}, {0xBF, -1}, {0xC0, -1},
                                          {0xC1, -1}, {0xC2, 1},  {0xDF, 1},  {0xE0, 2},  {0xEF, 2},
                                          {0xF0, 3},  {0xF4, 3},  {0xF5, -1}, {0xFF, -1}};
    for (const auto &[octet, following] : leads)
        QCOMPARE(Utf8Following(uchar(octet)), following);
}

void TestTextCore::utf8CutByTheEndOfItsView()
{
    // The octet after the view would complete the sequence.
    const QByteArrayView euro("\xE2\x82\xAC");
    QVERIFY(IsValidUtf8(euro));
    QVERIFY(!IsValidUtf8(euro.first(2)));
}

void TestTextCore::utf8OrLatin1()
{
    QCOMPARE(Utf8OrLatin1("Gr\xC3\xBC\xC3\x9F" "e"), QStringLiteral("Grüße"));
    // Not UTF-8: every octet stays, as its Latin-1 character.
    QCOMPARE(Utf8OrLatin1("Gr\xFC\xDF" "e \xC3"), QStringLiteral("Grüße Ã"));
    QCOMPARE(Utf8OrLatin1("\xEF\xBB\xBF" "a"), QStringLiteral("a"));
}

void TestTextCore::asciiRunStopsAtEveryOffset()
{
    for (const char stop : {'\x80', '\xFF', '\0'}) {
        for (qsizetype size = 0; size <= 20; ++size) {
            for (qsizetype at = 0; at <= size; ++at) {
                // Octets that a careless word test mistakes for a stop sit
                // around it: 0x01 and 0x7F.
                QByteArray text(size, '\x7F');
                for (qsizetype k = 0; k < size; k += 3)
                    text[k] = '\x01';
                if (at < size)
                    text[at] = stop;
                const QByteArray where = QByteArray::number(int(uchar(stop))) + " at " + QByteArray::number(at)
                                         + " of " + QByteArray::number(size);
                const qsizetype run = stop == '\0' ? size : at;
                QVERIFY2(AsciiRun(text) == run, where.constData());
                QVERIFY2(AsciiRun(text, NulEnds::Yes) == at, where.constData());
                QVERIFY2(IsAscii(text) == (run == size), where.constData());
                QVERIFY2(IsAscii(text, NulEnds::Yes) == (at == size), where.constData());
            }
        }
    }
}

void TestTextCore::hexDigits()
{
    for (int value = 0; value < 16; ++value)
        QCOMPARE(HexValue(HexDigit(value)), value);
    const char digits[] = {HexDigit(0xA), HexDigit(0xF), HexDigit(0x3D >> 4), HexDigit(0x3D)};
    QCOMPARE(QByteArray(digits, 4), QByteArray("AF3D"));
    QCOMPARE(HexValue('a'), 10);
    QCOMPARE(HexValue('f'), 15);
    for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xB0'})
        QCOMPARE(HexValue(c), -1);
}

void TestTextCore::oneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain text as it is") << u"Re: lunch (today) \u00e0 5\u00a0\u20ac"_s << u"Re: lunch (today) \u00e0 5\u00a0\u20ac"_s;
    QTest::newRow("CR LF cannot forge a header line")
        << u"Hi\r\nFrom: ceo@yourbank.example"_s << u"Hi  From: ceo@yourbank.example"_s;
    QTest::newRow("separators, NEL, VT, FF, tab")
        << u"a\u2028Reply-To: x\u2029b\u0085c\vd\fe\tf"_s << u"a Reply-To: x b c d e f"_s;
    QTest::newRow("other controls marked") << u"a\u0001b\u007fc\u009bd\u0000e"_s
                                           << u"a\ufffdb\ufffdc\ufffdd\ufffde"_s;
    QTest::newRow("override marked") << u"invoice\u202efdp.exe"_s << u"invoice\ufffdfdp.exe"_s;
    QTest::newRow("every embedding and isolate marked")
        << u"\u202aa\u202bb\u202cc\u202dd\u2066e\u2067f\u2068g\u2069"_s
        << u"\ufffda\ufffdb\ufffdc\ufffdd\ufffde\ufffdf\ufffdg\ufffd"_s;
    QTest::newRow("direction marks and joiners kept")
        << u"\u05e9\u200fx\u200ey \U0001F468\u200d\U0001F469"_s << u"\u05e9\u200fx\u200ey \U0001F468\u200d\U0001F469"_s;
    QTest::newRow("lone surrogate marked") << QString(QChar(0xD800)) + u"x"_s << u"\ufffdx"_s;
    QTest::newRow("padding cannot push text to a line of its own")
        << u"a.pdf"_s + QString(300, u' ') + u"[Attachment: b.exe]"_s << u"a.pdf [Attachment: b.exe]"_s;
    QTest::newRow("padding of other blanks and zero-width characters")
        << u"a \u200b \u3000\u2800\u3164\u00a0\u00a0\u2009b"_s << u"a b"_s;
    QTest::newRow("a sender's spacing kept") << u"a   plain \u00a0 b"_s << u"a   plain \u00a0 b"_s;
    QTest::newRow("blanks at the ends dropped") << u" \r\n a \t\u2028"_s << u"a"_s;
}

void TestTextCore::oneLine()
{
    QFETCH(QString, text);
    QTEST(OneLine(text), "shown");
}

QTEST_GUILESS_MAIN(TestTextCore)
#include "tst_textcore.moc"
