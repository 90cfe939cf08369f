#include "guitest.h"
#include "apphandler.h"
#include "mailform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

UrlCatcher *catcher()
{
    static auto *instance = new UrlCatcher;
    return instance;
}

} // namespace

namespace GuiTest {

void InitApp()
{
    InitApplication(*qApp);
    // Tests close many windows; the application must outlive them.
    qApp->setQuitOnLastWindowClosed(false);
    for (const char *scheme : {"http", "https", "file", "mailto"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), catcher(), "open");
    // A box nobody expected must not hang the suite: it is closed after a
    // while and reported.
    auto *safety = new QTimer(qApp);
    QObject::connect(safety, &QTimer::timeout, [] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        const int ticks = modal->property("orv_ticks").toInt() + 1;
        modal->setProperty("orv_ticks", ticks);
        if (ticks < 10)
            return;
        auto *box = qobject_cast<QMessageBox *>(modal);
        qWarning("closing an unexpected %s: %s", modal->metaObject()->className(),
                 box ? qPrintable(box->text()) : "");
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    safety->start(200);
}

QList<QUrl> OpenedUrls() { return catcher()->urls; }
void ClearOpenedUrls() { catcher()->urls.clear(); }

std::unique_ptr<TMailForm> ShowForm()
{
    auto form = std::make_unique<TMailForm>();
    form->show();
    QApplication::setActiveWindow(form.get());
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("window not exposed");
    return form;
}

ModalLog WhileAnsweringModals(const std::function<void()> &action,
                              const std::function<void(QWidget *)> &answer)
{
    ModalLog log;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->property("orv_seen").toBool())
            return;
        modal->setProperty("orv_seen", true);
        log.titles << modal->windowTitle();
        log.classes << QString::fromLatin1(modal->metaObject()->className());
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            log.texts << box->text();
        else
            log.texts << QString();
        if (answer)
            answer(modal);
        else if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    timer.start();
    action();
    timer.stop();
    return log;
}

} // namespace GuiTest

#include "guitest.moc"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace GuiTest {

QString HandOffFile()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("note.txt"));
}

QByteArray PrepareHandOff(const QString &recipient, const QByteArray &text)
{
    QFile file(HandOffFile());
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return (recipient + QLatin1Char(',') + HandOffFile()).toLocal8Bit();
}

} // namespace GuiTest
