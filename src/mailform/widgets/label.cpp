#include "label.h"

#include <algorithm>

TLabel::TLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
}

void TLabel::SetCaption(const QString &caption)
{
    setText(caption);
    AdjustToCaption();
}

void TLabel::AdjustToCaption()
{
    if (wordWrap())
        resize(width(), std::max(height(), heightForWidth(width())));
    else
        resize(fontMetrics().horizontalAdvance(text()), height());
}
