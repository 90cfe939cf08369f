// The road of received text from the control's pieces to the view's
// paragraphs: line ends made once, held text cut for delivery, paragraphs
// shaped for the document. Nothing may be lost to where a piece was cut.
#include "mime/lineends.h"
#include "mime/messagetext.h"
#include "viewtext.h"

#include <QTest>

class TestTextRoad : public QObject {
    Q_OBJECT
private slots:
    void lineEndsAcrossPieces_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF split between pieces") << QStringList{"one\r", "\ntwo\r", "\n"} << "one\ntwo\n";
        QTest::newRow("lone CR ends a piece") << QStringList{"one\r", "two"} << "one\ntwo";
        QTest::newRow("lone CR ends the message") << QStringList{"one\r"} << "one\n";
        QTest::newRow("CR, then CR LF") << QStringList{"a\r", "\r\n", "b"} << "a\n\nb";
        QTest::newRow("LF only") << QStringList{"a\n", "\nb"} << "a\n\nb";
        QTest::newRow("an empty piece between CR and LF") << QStringList{"a\r", "", "\nb"} << "a\nb";
    }
    void lineEndsAcrossPieces()
    {
        QFETCH(QStringList, pieces);
        QFETCH(QString, text);
        mime::LineEnds lineEnds;
        QString out;
        for (const QString &piece : pieces)
            out += lineEnds.Feed(piece);
        QCOMPARE(out, text);
    }

    void heldTextIsCutForDelivery_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("after a line end in the second half") << "aaaaaa\nbbbb\ncc" << 8 << QStringList{"aaaaaa\n", "bbbb\ncc"};
        QTest::newRow("no line end near: at the limit") << "aaaaaaaaaaa" << 4 << QStringList{"aaaa", "aaaa", "aaa"};
        QTest::newRow("never inside a surrogate pair") << "abc\U0001F600d" << 4 << QStringList{"abc", "\U0001F600d"};
    }
    void heldTextIsCutForDelivery()
    {
        QFETCH(QString, text);
        QFETCH(int, maxChars);
        QTEST(mime::CutForDelivery(text, maxChars), "pieces");
    }

    void sourceTextKeepsEveryOctet()
    {
        // As sent: 8-bit lines read as UTF-8 where valid, else Latin-1, and
        // the same whatever the cut.
        const QByteArray body = "caf\xc3\xa9\r\nna\xefve\r\nlast";
        QString whole, bytewise;
        {
            mime::MessageText text({{"Subject", "x"}}, false);
            whole = text.Feed(body) + text.Finish();
        }
        mime::MessageText text({{"Subject", "x"}}, false);
        for (char c : body)
            bytewise += text.Feed(QByteArrayView(&c, 1));
        bytewise += text.Finish();
        QCOMPARE(whole, QStringLiteral("caf\u00e9\nna\u00efve\nlast"));
        QCOMPARE(bytewise, whole);
    }

    void paragraphsForTheView_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shaped");
        const QChar sep(QChar::LineSeparator);
        QTest::newRow("short lines share a paragraph") << "a\nb\nc" << QStringLiteral("a%1b%1c").arg(sep);
        const QString full(viewtext::kParagraphChars, QLatin1Char('x'));
        QTest::newRow("a full paragraph ends at the next line end") << full + "\nnext" << full + "\nnext";
        const QString words = QString(QStringLiteral("word ")).repeated(2000);
        const qsizetype afterSpace = words.indexOf(QLatin1Char(' '), viewtext::kLongLineChars) + 1;
        QTest::newRow("a long line breaks after a space")
            << words << words.left(afterSpace) + "\n" + words.mid(afterSpace);
        const QString solid(viewtext::kLongLineChars + viewtext::kNoSpaceSlack + 10, QLatin1Char('y'));
        QTest::newRow("a long line without blanks breaks where the slack ends")
            << solid << solid.left(viewtext::kLongLineChars + viewtext::kNoSpaceSlack) + "\n"
                            + solid.mid(viewtext::kLongLineChars + viewtext::kNoSpaceSlack);
    }
    void paragraphsForTheView()
    {
        QFETCH(QString, text);
        QTEST(viewtext::Paragraphs(text, 0, 0), "shaped");
    }

    void shapingLosesNothing()
    {
        // Only line separators and breaks are added; joined back, the text
        // is the text given, a pair never split.
        QString text;
        for (int i = 0; i < 3000; ++i)
            text += (i % 7 ? QStringLiteral("word\U0001F600 ") : QStringLiteral("\n")) + QString(i % 13, QChar(0x301));
        QString shaped = viewtext::Paragraphs(text, 0, 0);
        for (qsizetype i = 0; i < shaped.size(); ++i)
            QVERIFY2(!(shaped[i] == QLatin1Char('\n') && i > 0 && shaped[i - 1].isHighSurrogate()), "pair split");
        shaped.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
        QString joined;
        for (const QString &line : shaped.split(QLatin1Char('\n')))
            joined += line;
        QString want = text;
        QCOMPARE(joined, want.remove(QLatin1Char('\n')));
    }
};

QTEST_MAIN(TestTextRoad)
#include "tst_textroad.moc"
