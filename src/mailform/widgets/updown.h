#pragma once
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QTimer;

// Which arrow moved the position.
enum class TUDBtnType { btNext, btPrev };

// A vertical pair of arrows that steps a 16-bit position within a range and
// shows it in an associated edit. Unlike a spin box it never wraps, takes no
// typing, and signals a click only when the position really changed.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget *parent = nullptr);

    short Min() const { return m_min; }
    short Max() const { return m_max; }
    short Position() const { return m_position; }
    void SetMin(short value);
    void SetMax(short value);
    // Kept within the range; the associated edit shows it.
    void SetPosition(short value);

    // The edit that shows the position and whose arrow keys step it.
    void SetAssociate(QLineEdit *edit);

    // Steps as a press of that arrow does. Returns whether it moved.
    bool Step(TUDBtnType direction);

    QSize sizeHint() const override { return QSize(15, 21); }

signals:
    void clicked(TUDBtnType button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowPosition();
    void AutoRepeat();

    short m_min = 0;
    short m_max = 0;
    short m_position = 0;
    QPointer<QLineEdit> m_associate;
    QTimer *m_repeat;
    int m_pressed = 0; // +1 up arrow held, -1 down arrow held
};
