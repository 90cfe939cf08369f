#pragma once
#include <QString>

class QWidget;

// Show command that shows and activates a window in its current size and place.
constexpr int SW_SHOW = 5;

// Asks the desktop to open a file or address with its default action. The
// desktop's answer is not examined: a failure changes nothing.
void ExecuteFile(const QString &fileName, const QString &params, const QString &defaultDir,
                 int showCmd, QWidget *owner = nullptr);
