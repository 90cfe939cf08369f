#include "bitbtn.h"
#include "glyphs.h"

#include <QIcon>

TBitBtn::TBitBtn(QWidget *parent) : QPushButton(parent)
{
    // Neither default nor cancel button: Enter and Escape press nothing.
    setAutoDefault(false);
    setDefault(false);
    setIconSize(QSize(16, 16));
}

void TBitBtn::SetGlyph(const QPixmap &glyph)
{
    m_glyph = glyph;
    QIcon icon;
    if (!glyph.isNull()) {
        icon.addPixmap(Glyphs::NormalGlyph(glyph), QIcon::Normal);
        icon.addPixmap(Glyphs::NormalGlyph(glyph), QIcon::Active);
        icon.addPixmap(Glyphs::DisabledGlyph(glyph, palette()), QIcon::Disabled);
    }
    setIcon(icon);
}

#include "moc_bitbtn.cpp"
