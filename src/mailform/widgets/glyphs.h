#pragma once
#include <QImage>
#include <QPalette>
#include <QPixmap>

// Picture helpers for the bitmap buttons and images: the colour of the
// bottom-left pixel is transparent, and a disabled glyph's white and grey
// are drawn in the palette's 3-D highlight and shadow colours.
namespace Glyphs {
QImage WithTransparentBottomLeft(const QImage &image);
QPixmap NormalGlyph(const QPixmap &picture);
QPixmap DisabledGlyph(const QPixmap &picture, const QPalette &palette);
} // namespace Glyphs
