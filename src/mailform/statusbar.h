#pragma once
#include <QLabel>

// A status bar with one simple panel: a single line replaced whole and
// painted at once, so progress shows even while a handler is still running.
class TStatusBar : public QLabel {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget *parent = nullptr);
    void SetSimpleText(const QString &text);
};
