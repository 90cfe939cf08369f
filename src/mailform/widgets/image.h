#pragma once
#include <QPixmap>
#include <QWidget>

// A picture drawn unscaled from its top-left corner and cut at the
// control's edges. Unlike a label it draws the same whether enabled or not.
class TImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QPixmap picture READ Picture WRITE SetPicture)
    Q_PROPERTY(bool transparent READ Transparent WRITE SetTransparent)
public:
    explicit TImage(QWidget *parent = nullptr);
    QPixmap Picture() const { return m_picture; }
    void SetPicture(const QPixmap &picture);
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPixmap m_picture;
    QPixmap m_shown;
    bool m_transparent = false;
};
