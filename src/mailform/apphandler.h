#pragma once
#include <QString>
#include <exception>
#include <utility>

// The application's exception handler: a message box captioned with the
// application title, stop icon, one OK button. A "." is added when the
// message's last character sorts after ".".
void ShowException(const std::exception &error);
QString ExceptionBoxText(const QString &message);
QString ApplicationTitle();

// Every handler runs under this guard: nothing thrown may unwind into Qt's
// event dispatch, and an error in a control's event handler still leaves the
// event handled.
template <typename Handler>
void Guarded(Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
}

class QApplication;
// The entry's first step: the application title, and the window's font for
// every box and dialog as well.
void InitApplication(QApplication &app);
