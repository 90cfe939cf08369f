#include "image.h"
#include "glyphs.h"

#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void TImage::SetPicture(const QPixmap &picture)
{
    m_picture = picture;
    SetTransparent(m_transparent);
}

void TImage::SetTransparent(bool on)
{
    m_transparent = on;
    m_shown = on ? QPixmap::fromImage(Glyphs::WithTransparentBottomLeft(m_picture.toImage()))
                 : m_picture;
    update();
}

void TImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_shown);
}

void TImage::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

#include "moc_image.cpp"
