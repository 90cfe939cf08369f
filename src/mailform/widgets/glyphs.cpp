#include "glyphs.h"

namespace Glyphs {

QImage WithTransparentBottomLeft(const QImage &image)
{
    if (image.isNull())
        return image;
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = result.pixel(0, result.height() - 1) | 0xff000000u;
    for (int y = 0; y < result.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] | 0xff000000u) == key)
                line[x] = 0;
    }
    return result;
}

namespace {
QImage Half(const QPixmap &picture, int index)
{
    // The transparent colour is taken from the whole picture's bottom-left
    // pixel, so both halves share it.
    const QImage whole = WithTransparentBottomLeft(picture.toImage());
    const int half = whole.width() / 2;
    return whole.copy(index * half, 0, half, whole.height());
}
} // namespace

QPixmap NormalGlyph(const QPixmap &picture)
{
    return QPixmap::fromImage(Half(picture, 0));
}

QPixmap DisabledGlyph(const QPixmap &picture, const QPalette &palette)
{
    QImage glyph = Half(picture, 1);
    const QRgb highlight = palette.color(QPalette::Active, QPalette::Light).rgb();
    const QRgb shadow = palette.color(QPalette::Active, QPalette::Dark).rgb();
    for (int y = 0; y < glyph.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(glyph.scanLine(y));
        for (int x = 0; x < glyph.width(); ++x) {
            if (line[x] == 0xffffffffu)
                line[x] = highlight;
            else if (line[x] == 0xff808080u)
                line[x] = shadow;
        }
    }
    return QPixmap::fromImage(glyph);
}

} // namespace Glyphs
