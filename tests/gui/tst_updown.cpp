// The message up-down: steps within its 16-bit range without wrapping,
// signals only real moves with their direction, and shows the position in
// its edit with the locale's digit grouping.
#include "guitest.h"
#include "mailform.h"
#include "updown.h"

#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

using GuiTest::Find;

Q_DECLARE_METATYPE(TUDBtnType)

namespace {
void ClickArrow(TUpDown *updown, TUDBtnType which)
{
    const QPoint at(updown->width() / 2, which == TUDBtnType::btNext ? 3 : updown->height() - 3);
    QTest::mouseClick(updown, Qt::LeftButton, Qt::NoModifier, at);
}
} // namespace

class TestUpDown : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void stepsWithinTheRange_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("up");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("signalled");
        QTest::newRow("range 0..0 up") << 0 << 0 << 0 << true << 0 << false;
        QTest::newRow("range 0..0 down") << 0 << 0 << 0 << false << 0 << false;
        QTest::newRow("3 of 5 up") << 1 << 5 << 3 << true << 4 << true;
        QTest::newRow("3 of 5 down") << 1 << 5 << 3 << false << 2 << true;
        QTest::newRow("top end") << 1 << 5 << 5 << true << 5 << false;
        QTest::newRow("bottom end") << 1 << 5 << 1 << false << 1 << false;
        QTest::newRow("16-bit top") << 1 << 32767 << 32767 << true << 32767 << false;
        // A range given the other way round: up still heads for the maximum.
        QTest::newRow("inverted up") << 0 << -5 << 0 << true << -1 << true;
        QTest::newRow("inverted down at min") << 0 << -5 << 0 << false << 0 << false;
    }
    void stepsWithinTheRange()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, start);
        QFETCH(bool, up);
        QFETCH(int, expected);
        QFETCH(bool, signalled);
        TUpDown updown;
        QLineEdit buddy;
        updown.resize(15, 21);
        updown.SetAssociate(&buddy);
        updown.SetMin(short(min));
        updown.SetMax(short(max));
        updown.SetPosition(short(start));
        QSignalSpy spy(&updown, &TUpDown::clicked);
        int positionSeen = -99999;
        connect(&updown, &TUpDown::clicked, this, [&] { positionSeen = updown.Position(); });
        ClickArrow(&updown, up ? TUDBtnType::btNext : TUDBtnType::btPrev);
        QCOMPARE(int(updown.Position()), expected);
        QCOMPARE(spy.count(), signalled ? 1 : 0);
        if (signalled) {
            // The handler already sees the new position, and the direction.
            QCOMPARE(positionSeen, expected);
            QCOMPARE(spy.at(0).at(0).value<TUDBtnType>(), up ? TUDBtnType::btNext : TUDBtnType::btPrev);
        }
    }

    void editShowsPositionWithThousandsSeparators()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        TUpDown updown;
        QLineEdit buddy;
        updown.SetAssociate(&buddy);
        updown.SetMin(1);
        updown.SetMax(20000);
        updown.SetPosition(12344);
        QCOMPARE(buddy.text(), QStringLiteral("12,344"));
        updown.Step(TUDBtnType::btNext);
        QCOMPARE(buddy.text(), QStringLiteral("12,345"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        updown.Step(TUDBtnType::btNext);
        QCOMPARE(buddy.text(), QStringLiteral("12.346"));
        QLocale::setDefault(QLocale::c());
    }

    void arrowKeysInTheMessageNumberStep()
    {
        auto form = GuiTest::ShowForm();
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(1);
        auto *updown = Find<TUpDown>(form.get(), "udCurMessage");
        auto *number = Find<QLineEdit>(form.get(), "eCurMessage");
        updown->SetMin(1);
        updown->SetMax(3);
        updown->SetPosition(1);
        QSignalSpy spy(updown, &TUpDown::clicked);
        number->setFocus();
        QTest::keyClick(number, Qt::Key_Up);
        QTest::keyClick(number, Qt::Key_Up);
        QTest::keyClick(number, Qt::Key_Up); // stops at 3
        QCOMPARE(number->text(), QStringLiteral("3"));
        QTest::keyClick(number, Qt::Key_Down);
        QCOMPARE(number->text(), QStringLiteral("2"));
        QCOMPARE(spy.count(), 3);
    }

    void isNotATabStop()
    {
        auto form = GuiTest::ShowForm();
        QCOMPARE(Find(form.get(), "udCurMessage")->focusPolicy(), Qt::NoFocus);
    }
};

QTEST_MAIN(TestUpDown)
#include "tst_updown.moc"
