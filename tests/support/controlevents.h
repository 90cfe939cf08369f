#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class TInternetControl;

// Records what a client control raises, in the words the tests compare:
// "state 4", "protocol 1", "count 2", "error 1013" (with namedErrors
// "error 1013 RecipientRefused"), "doc 3" (a run of equal document events is
// written once), and the details each suite reads. The document's headers,
// text and byte counts are those of the document under way (cleared at its
// begin). Handlers of errors set CancelDisplay, as the window does.
class ControlEvents {
public:
    explicit ControlEvents(TInternetControl *control, bool namedErrors = false);

    bool Saw(const QString &event) const { return events.contains(event); }

    QStringList events;
    QList<short> errors;
    QString description;     // of the last error
    QStringList errorLines;  // the control's Errors at the last error
    short protocolAtError = -1;
    QList<qint32> counts;
    QStringList headers;     // "Name: Value"
    QString body;            // the text of the data events, joined
    QStringList chunks;      // the text of each data event
    QList<qint32> transferredAt; // the byte count at each data event
    qint32 transferred = -1; // at the last document event
    int documentsEnded = 0;

private:
    void Add(const QString &event);

    QObject m_context; // the connections end with the recorder
};
