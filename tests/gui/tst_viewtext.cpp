// The message view's text when a large message arrives in chunks: the
// window groups lines and breaks overlong ones to stay responsive, and the
// benchmark's figures only count if no character is lost or moved by that.
#include "guitest.h"
#include "mailform.h"
#include "tpop.h"

#include <QPlainTextEdit>
#include <QTest>

using GuiTest::Find;

namespace {

QString Words(int chars, const QString &word)
{
    QString text;
    while (text.size() < chars)
        text += word;
    text.truncate(chars);
    return text;
}

} // namespace

class TestViewText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void chunksShowEveryCharacter_data()
    {
        QTest::addColumn<QString>("message"); // CR LF line ends, as the engine hands over
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("longestLine"); // in the view; 0: as in the message

        QString lines;
        for (int i = 0; i < 3000; ++i)
            lines += QStringLiteral("line %1 ").arg(i) + Words(40 + i % 37, QStringLiteral("naïve words ")) +
                     QStringLiteral("\r\n");
        // Chunks that split lines, and line ends, at every kind of place.
        QTest::newRow("many lines, small chunks") << lines << 997 << 0;
        QTest::newRow("many lines, one chunk") << lines << int(lines.size()) << 0;
        QTest::newRow("blank lines only") << QString(5000, QLatin1Char('\n')).replace(
                                                 QStringLiteral("\n"), QStringLiteral("\r\n"))
                                          << 333 << 0;

        const QString prose = Words(100000, QStringLiteral("a long line of words "));
        QTest::newRow("one long line of words") << prose << 4099 << 9300;
        QTest::newRow("long line between short ones")
            << QStringLiteral("before\r\n") + prose + QStringLiteral("\r\nafter\r\n") << 65536 << 9300;
        // No space to break at: characters outside the BMP must stay whole.
        // The "y" puts the first break due on the second half of a pair.
        QTest::newRow("long line without spaces")
            << QStringLiteral("y") + Words(60000, QStringLiteral("x\U0001F600")) << 5000 << 9300;
    }

    void chunksShowEveryCharacter()
    {
        QFETCH(QString, message);
        QFETCH(int, chunk);
        QFETCH(int, longestLine);
        auto form = GuiTest::ShowForm();
        auto *pop = Find<TPOP>(form.get(), "POP1");
        auto *view = Find<QPlainTextEdit>(form.get(), "mReadMessage");
        view->setPlainText(QString());
        // The control hands on lines ended by '\n'.
        QString expected = message;
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        TDocOutput doc;
        for (qsizetype at = 0; at < expected.size(); at += chunk) {
            doc.SetProgress(DocState::Data, 0, expected.mid(at, chunk));
            emit pop->OnDocOutput(&doc);
        }
        const QString shown = view->toPlainText();
        if (longestLine == 0) {
            QCOMPARE(shown, expected);
            return;
        }
        // Breaks are only added, never put in place of a character.
        QString joined = shown;
        QCOMPARE(joined.remove(QLatin1Char('\n')), QString(expected).remove(QLatin1Char('\n')));
        const QStringList viewLines = shown.split(QLatin1Char('\n'));
        QVERIFY(viewLines.size() > expected.count(QLatin1Char('\n')) + 1);
        for (const QString &line : viewLines) {
            QVERIFY2(line.size() <= longestLine, qPrintable(QString::number(line.size())));
            QVERIFY(line.isEmpty() || !line.back().isHighSurrogate());
            QVERIFY(line.isEmpty() || !line.front().isLowSurrogate());
        }
    }
};

QTEST_MAIN(TestViewText)
#include "tst_viewtext.moc"
