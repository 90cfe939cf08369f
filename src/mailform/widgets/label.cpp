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
    KeepFollowerClear();
}

void TLabel::KeepFollowerClear()
{
    const QString name = property("followedBy").toString();
    QWidget *follower = name.isEmpty() || !parentWidget() || wordWrap()
                            ? nullptr
                            : parentWidget()->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
    if (!follower)
        return;
    if (m_followerHome < 0)
        m_followerHome = follower->x();
    follower->move(std::max(m_followerHome, x() + width() + kFollowerGap), follower->y());
}

#include "moc_label.cpp"
