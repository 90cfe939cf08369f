#include "updown.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QStyleOptionSpinBox>
#include <QStylePainter>
#include <QTimer>

#include <algorithm>

TUpDown::TUpDown(QWidget *parent) : QWidget(parent), m_repeat(new QTimer(this))
{
    setFocusPolicy(Qt::NoFocus);
    connect(m_repeat, &QTimer::timeout, this, &TUpDown::AutoRepeat);
}

void TUpDown::SetMin(short value)
{
    m_min = value;
    update();
}

void TUpDown::SetMax(short value)
{
    m_max = value;
    update();
}

void TUpDown::SetPosition(short value)
{
    const short lo = std::min(m_min, m_max);
    const short hi = std::max(m_min, m_max);
    m_position = std::clamp(value, lo, hi);
    ShowPosition();
}

void TUpDown::SetAssociate(QLineEdit *edit)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = edit;
    if (edit) {
        edit->installEventFilter(this);
        ShowPosition();
    }
}

bool TUpDown::Step(TUDBtnType direction)
{
    // The up arrow moves toward Max and the down arrow toward Min, also when
    // the range is given the other way round; the ends stop it.
    const int towardMax = m_max >= m_min ? 1 : -1;
    const int delta = direction == TUDBtnType::btNext ? towardMax : -towardMax;
    const int lo = std::min(m_min, m_max);
    const int hi = std::max(m_min, m_max);
    const int next = m_position + delta;
    if (next < lo || next > hi)
        return false;
    m_position = short(next);
    ShowPosition();
    emit clicked(direction);
    return true;
}

void TUpDown::ShowPosition()
{
    if (m_associate)
        m_associate->setText(QLocale().toString(int(m_position)));
}

void TUpDown::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionSpinBox option;
    option.initFrom(this);
    option.rect = rect();
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    option.frame = false;
    option.buttonSymbols = QAbstractSpinBox::UpDownArrows;
    const bool canStep = isEnabled() && m_min != m_max;
    option.stepEnabled = canStep ? (QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled)
                                 : QAbstractSpinBox::StepNone;
    if (m_pressed > 0) {
        option.activeSubControls = QStyle::SC_SpinBoxUp;
        option.state |= QStyle::State_Sunken;
    } else if (m_pressed < 0) {
        option.activeSubControls = QStyle::SC_SpinBoxDown;
        option.state |= QStyle::State_Sunken;
    }
    // Draw only the two arrow buttons, filling the whole control.
    QStyleOptionButton button;
    button.initFrom(this);
    const int half = height() / 2;
    const QRect up(0, 0, width(), half);
    const QRect down(0, half, width(), height() - half);
    for (int i = 0; i < 2; ++i) {
        button.rect = i == 0 ? up : down;
        button.state = option.state & ~QStyle::State_Sunken;
        if ((i == 0 && m_pressed > 0) || (i == 1 && m_pressed < 0))
            button.state |= QStyle::State_Sunken;
        else
            button.state |= QStyle::State_Raised;
        painter.drawControl(QStyle::CE_PushButtonBevel, button);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = button.rect.adjusted(3, 2, -3, -2);
        if (!isEnabled())
            arrow.palette.setCurrentColorGroup(QPalette::Disabled);
        painter.drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, arrow);
    }
}

void TUpDown::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = event->position().y() < height() / 2 ? 1 : -1;
    update();
    Step(m_pressed > 0 ? TUDBtnType::btNext : TUDBtnType::btPrev);
    // The handler may have disabled us or started a modal box; repeat only
    // while the button is really still held.
    if (m_pressed != 0 && isEnabled())
        m_repeat->start(400);
}

void TUpDown::mouseReleaseEvent(QMouseEvent *)
{
    m_pressed = 0;
    m_repeat->stop();
    update();
}

void TUpDown::AutoRepeat()
{
    if (m_pressed == 0 || !isEnabled() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_pressed = 0;
        m_repeat->stop();
        update();
        return;
    }
    m_repeat->setInterval(100);
    Step(m_pressed > 0 ? TUDBtnType::btNext : TUDBtnType::btPrev);
}

bool TUpDown::eventFilter(QObject *watched, QEvent *event)
{
    // The type first: while the edit is being destroyed it still sends events
    // here, and the pointer must not be looked at as a QLineEdit then.
    if (event->type() == QEvent::KeyPress && watched == m_associate && isEnabled()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? TUDBtnType::btNext : TUDBtnType::btPrev);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "moc_updown.cpp"
