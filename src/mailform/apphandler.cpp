#include "apphandler.h"
#include "exceptions.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>

#include <cerrno>

QString ApplicationTitle()
{
    return QStringLiteral("Orvanta Mail");
}

QString ExceptionBoxText(const QString &message)
{
    QString text = message;
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        text += QLatin1Char('.');
    return text;
}

void ShowException(const std::exception &error) try {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                    ExceptionBoxText(QString::fromUtf8(error.what())), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
} catch (...) {
    // Showing the error must never become a second error.
}

QString EInOutError::TextFor(int errorCode)
{
    switch (errorCode) {
    case ReadBeyondEnd: return QStringLiteral("Read beyond end of file");
    case ENOENT: return QStringLiteral("File not found");
    case ENAMETOOLONG: return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE: return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS: return QStringLiteral("File access denied");
    case ENOSPC: return QStringLiteral("Disk full");
    default: return QStringLiteral("I/O error %1").arg(errorCode);
    }
}

void InitApplication(QApplication &app)
{
    // The title is not made Qt's application display name: Qt appends that
    // to every window title it hands the window manager ("Error — Orvanta
    // Mail"), and each window must read exactly its own caption. The
    // desktop entry's name ties the running program to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvanta-mail"));
    // Tahoma's metrics are nearest the design's; Liberation Sans stands in
    // when it is missing.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    QFont font(QStringLiteral("Tahoma"));
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans")});
    font.setPointSize(8);
    app.setFont(font);
}
