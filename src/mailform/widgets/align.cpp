#include "align.h"

#include <QEvent>
#include <QObject>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace {

class Aligner : public QObject {
public:
    explicit Aligner(QWidget *container) : QObject(container), m_container(container) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_container && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            Realign();
        return false;
    }

    void Realign()
    {
        QList<QWidget *> tops, bottoms, clients, widths;
        for (QObject *object : m_container->children()) {
            auto *child = qobject_cast<QWidget *>(object);
            if (!child || child->isWindow())
                continue;
            const QString align = child->property("align").toString();
            if (align == QLatin1String("top"))
                tops.append(child);
            else if (align == QLatin1String("bottom"))
                bottoms.append(child);
            else if (align == QLatin1String("client"))
                clients.append(child);
            else if (align == QLatin1String("width"))
                widths.append(child);
        }
        // Stable order: the one nearest its edge is placed first.
        std::stable_sort(tops.begin(), tops.end(),
                         [](QWidget *a, QWidget *b) { return a->y() < b->y(); });
        std::stable_sort(bottoms.begin(), bottoms.end(), [](QWidget *a, QWidget *b) {
            return a->geometry().bottom() > b->geometry().bottom();
        });
        const QRect area = m_container->contentsRect();
        int top = area.top();
        int bottom = area.bottom() + 1;
        for (QWidget *w : tops) {
            w->setGeometry(area.left(), top, area.width(), w->height());
            top += w->height();
        }
        for (QWidget *w : bottoms) {
            bottom -= w->height();
            w->setGeometry(area.left(), bottom, area.width(), w->height());
        }
        for (QWidget *w : clients)
            w->setGeometry(area.left(), top, area.width(), std::max(0, bottom - top));
        // Keeps its place and height; its right edge follows the container's.
        for (QWidget *w : widths)
            w->resize(std::max(0, area.right() + 1 - w->property("alignMargin").toInt() - w->x()), w->height());
    }

private:
    QWidget *m_container;
};

} // namespace

void KeepAligned(QWidget *container)
{
    auto *aligner = new Aligner(container);
    container->installEventFilter(aligner);
    aligner->Realign();
}
