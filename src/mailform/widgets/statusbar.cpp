#include "statusbar.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class AccessibleStatusBar : public QAccessibleWidget {
public:
    explicit AccessibleStatusBar(QWidget *bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    QString text(QAccessible::Text kind) const override
    {
        // The text as shown, "&" included: it is no mnemonic here.
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *StatusBarFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TStatusBar") && object && object->isWidgetType())
        return new AccessibleStatusBar(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

TStatusBar::TStatusBar(QWidget *parent) : QLabel(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(StatusBarFactory), true);
    (void)factoryInstalled;
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

#include "moc_statusbar.cpp"
