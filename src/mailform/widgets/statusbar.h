#pragma once
#include <QLabel>

// A status bar with one simple panel: a single line replaced whole and
// painted at once, so progress shows even while a handler is still running.
// Assistive technology reads it as a status bar whose name is the current
// text, and hears each change (QLabel announces a new text as a name change
// when no fixed name is set).
class TStatusBar : public QLabel {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget *parent = nullptr);
    void SetSimpleText(const QString &text);
};
