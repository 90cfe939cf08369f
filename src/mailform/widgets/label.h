#pragma once
#include <QLabel>

// A label that sizes itself to its caption, as auto-sized labels do: one-line
// labels keep their left edge and height and grow to the right; word-wrapped
// ones keep their width and grow downwards.
class TLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLabel(QWidget *parent = nullptr);
    void SetCaption(const QString &caption);
    void AdjustToCaption();
};
