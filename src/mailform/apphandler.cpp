#include "apphandler.h"
#include "internetcontrol.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>


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

void InitApplication(QApplication &app)
{
    // The title is not made Qt's application display name: Qt appends that
    // to every window title it hands the window manager ("Error — Orvanta
    // Mail"), and each window must read exactly its own caption. The
    // desktop entry's name ties the running program to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvanta-mail"));
    // A control's event handler that throws, outside the window's own guard,
    // is shown like any other escaping error.
    TInternetControl::SetHandlerErrorSink(ShowException);
    // Tahoma's 8-point metrics are nearest those the window was laid out
    // with; Liberation Sans stands in
    // when it is missing.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    QFont font(QStringLiteral("Tahoma"));
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans")});
    font.setPointSize(8);
    app.setFont(font);
}
