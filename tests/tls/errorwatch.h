#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Records a control's state changes and errors, with the last description.
struct Watch {
    QStringList events;
    QList<short> errors;
    QString description;

    template <class Control>
    explicit Watch(Control *control)
    {
        QObject::connect(control, &Control::OnStateChanged, control,
                         [this](short s) { events << QStringLiteral("state %1").arg(s); });
        QObject::connect(control, &Control::OnError, control,
                         [this](short n, const QString &d, bool &) {
                             events << QStringLiteral("error %1").arg(n);
                             errors << n;
                             description = d;
                         });
    }
};
