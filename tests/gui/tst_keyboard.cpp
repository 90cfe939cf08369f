// Keyboard use of the window: Tab order per page, Alt shortcuts acting only
// on the page that shows, and the read-only message number.
#include "guitest.h"
#include "mailform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using GuiTest::Find;

namespace {

QStringList TabWalk(QWidget *form, int page, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    auto *pages = Find<QTabWidget>(form, "PageControl1");
    pages->setCurrentIndex(page);
    QTabBar *tabs = pages->findChild<QTabBar *>();
    tabs->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
        QWidget *focus = QApplication::focusWidget();
        if (!focus || focus == tabs)
            break;
        visited << focus->objectName();
    }
    return visited;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { GuiTest::InitApp(); }

    void tabVisitsEachPageInItsOrder_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("Send Mail") << 0
            << QStringList{"eTo", "eCC", "eSubject", "SendBtn", "ClearBtn", "cbSendFile", "QuitBtn",
                           "reMessageText"};
        QTest::newRow("Get Mail") << 1 << QStringList{"eCurMessage", "BitBtn2", "mReadMessage"};
        // The POP box comes first although the SMTP box is drawn above it.
        QTest::newRow("Connect To") << 2
            << QStringList{"ePOPServer", "eUserName", "ePassword", "POPConnectBtn", "eSMTPServer",
                           "eHomeAddr", "SMTPConnectBtn", "BitBtn1", "SaveBtn"};
    }
    void tabVisitsEachPageInItsOrder()
    {
        QFETCH(int, page);
        QFETCH(QStringList, order);
        auto form = GuiTest::ShowForm();
        QCOMPARE(TabWalk(form.get(), page), order);
        // Shift+Tab walks the same way back.
        QStringList reversed(order.rbegin(), order.rend());
        QCOMPARE(TabWalk(form.get(), page, Qt::ShiftModifier), reversed);
    }

    void tabLeavesTheMessageEditor()
    {
        auto form = GuiTest::ShowForm();
        auto *editor = Find(form.get(), "reMessageText");
        editor->setFocus(Qt::TabFocusReason);
        QTest::keyClick(editor, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != editor);
        QCOMPARE(Find<QTextEdit>(form.get(), "reMessageText")->toPlainText(), QString());
    }

    void altShortcutsActOnTheShowingPageOnly_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("pressed");
        QTest::newRow("Alt+S sends on Send Mail") << 0 << int(Qt::Key_S) << "SendBtn";
        QTest::newRow("Alt+S saves on Connect To") << 2 << int(Qt::Key_S) << "SaveBtn";
        QTest::newRow("Alt+S does nothing on Get Mail") << 1 << int(Qt::Key_S) << "";
        QTest::newRow("Alt+C clears") << 0 << int(Qt::Key_C) << "ClearBtn";
        QTest::newRow("Alt+C nothing on Connect To") << 2 << int(Qt::Key_C) << "";
        QTest::newRow("Alt+Q on Send Mail") << 0 << int(Qt::Key_Q) << "QuitBtn";
        QTest::newRow("Alt+Q on Get Mail") << 1 << int(Qt::Key_Q) << "BitBtn2";
        QTest::newRow("Alt+Q on Connect To") << 2 << int(Qt::Key_Q) << "BitBtn1";
        QTest::newRow("Alt+A attaches") << 0 << int(Qt::Key_A) << "cbSendFile";
    }
    void altShortcutsActOnTheShowingPageOnly()
    {
        QFETCH(int, page);
        QFETCH(int, key);
        QFETCH(QString, pressed);
        auto form = GuiTest::ShowForm();
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(page);
        QList<QSignalSpy *> spies;
        QStringList names;
        for (auto *button : form->findChildren<QAbstractButton *>()) {
            // Watch without letting the handlers act (no dialogs, no closing).
            button->blockSignals(false);
            spies << new QSignalSpy(button, &QAbstractButton::pressed);
            names << button->objectName();
        }
        // Shortcuts only reach buttons; keep the handlers from running.
        for (auto *button : form->findChildren<QAbstractButton *>())
            QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
        QObject::disconnect(Find(form.get(), "cbSendFile"), SIGNAL(toggled(bool)), nullptr, nullptr);
        QTest::keyClick(form.get(), Qt::Key(key), Qt::AltModifier);
        QStringList fired;
        for (int i = 0; i < spies.size(); ++i)
            if (!spies[i]->isEmpty())
                fired << names[i];
        qDeleteAll(spies);
        QCOMPARE(fired, pressed.isEmpty() ? QStringList() : QStringList{pressed});
    }

    void enterAndEscapePressNoButton()
    {
        auto form = GuiTest::ShowForm();
        auto *to = Find<QLineEdit>(form.get(), "eTo");
        to->setFocus();
        QList<QSignalSpy *> spies;
        for (auto *button : form->findChildren<QAbstractButton *>()) {
            QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
            spies << new QSignalSpy(button, &QAbstractButton::clicked);
        }
        QTest::keyClick(to, Qt::Key_Return);
        QTest::keyClick(to, Qt::Key_Escape);
        for (auto *spy : spies)
            QCOMPARE(spy->count(), 0);
        qDeleteAll(spies);
        QVERIFY(form->isVisible());
    }

    void messageNumberTakesNoTyping()
    {
        auto form = GuiTest::ShowForm();
        Find<QTabWidget>(form.get(), "PageControl1")->setCurrentIndex(1);
        auto *number = Find<QLineEdit>(form.get(), "eCurMessage");
        number->setFocus();
        QTest::keyClicks(number, "42");
        QCOMPARE(number->text(), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
