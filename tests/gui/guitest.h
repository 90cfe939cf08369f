#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class TMailForm;
class QWidget;

// Shared set-up for tests that drive the real window.
namespace GuiTest {

// The entry's first steps (title, font) and a URL catcher, so that no test
// ever opens a browser. Call once from initTestCase().
void InitApp();

// Every address the program asked the desktop to open.
QList<QUrl> OpenedUrls();
void ClearOpenedUrls();

// A window as the entry creates it, shown and active.
std::unique_ptr<TMailForm> ShowForm();

template <typename T = QWidget>
T *Find(QWidget *form, const QString &name)
{
    return form->findChild<T *>(name);
}

// Runs `action`; answers each modal box that appears meanwhile with
// `answer` (called with the box) and collects the boxes' texts.
struct ModalLog {
    QStringList titles;
    QStringList texts;
    QStringList classes;
};
ModalLog WhileAnsweringModals(const std::function<void()> &action,
                              const std::function<void(QWidget *)> &answer = {});

} // namespace GuiTest

namespace GuiTest {
// The message file handed to windows created under ORV_GUITEST_MAIN_HANDOFF.
QString HandOffFile();
QByteArray PrepareHandOff(const QString &recipient, const QByteArray &text);
} // namespace GuiTest

// A test main whose application is started with a host program's argument
// "recipient,file", so that every window it creates may send.
#define ORV_GUITEST_MAIN_HANDOFF(TestClass, recipient, text)                               \
    int main(int argc, char *argv[])                                                       \
    {                                                                                      \
        QByteArray handoff = GuiTest::PrepareHandOff(QStringLiteral(recipient), text);     \
        int appArgc = 2;                                                                   \
        char *appArgv[] = {argv[0], handoff.data(), nullptr};                              \
        QApplication app(appArgc, appArgv);                                                \
        TestClass test;                                                                    \
        return QTest::qExec(&test, argc, argv);                                            \
    }
