#include "statusbar.h"

TStatusBar::TStatusBar(QWidget *parent) : QLabel(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    // Server texts can start with "<": never take them for markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setIndent(2);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFocusPolicy(Qt::NoFocus);
}

void TStatusBar::SetSimpleText(const QString &text)
{
    setText(text);
    repaint();
}
