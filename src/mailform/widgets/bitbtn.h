#pragma once
#include <QPixmap>
#include <QPushButton>

// A push button with a two-state picture: a 32 x 16 image holding the normal
// glyph on the left and the disabled glyph on the right.
class TBitBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QPixmap glyph READ Glyph WRITE SetGlyph)
public:
    explicit TBitBtn(QWidget *parent = nullptr);
    QPixmap Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap &glyph);

private:
    QPixmap m_glyph;
};
