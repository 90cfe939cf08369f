// The status-bar texts of the sessions and of each document's transfer.
#include "progresstexts.h"
#include "inetstates.h"

QString SessionStateText(const QString &kind, short state, const QString &host, const QString &current)
{
    const QString server = kind + QStringLiteral(" server: ");
    switch (ConnState(state)) {
    case ConnState::Connecting:
        return QStringLiteral("Connecting to ") + server + host + QStringLiteral("...");
    case ConnState::Resolving:
        return QStringLiteral("Resolving Host");
    case ConnState::Resolved:
        return QStringLiteral("Host Resolved");
    case ConnState::Connected:
        return QStringLiteral("Connected to ") + server + host;
    case ConnState::Disconnecting:
        return QStringLiteral("Disconnecting from ") + server + host + QStringLiteral("...");
    case ConnState::Disconnected:
        return QStringLiteral("Disconnected from ") + server + host;
    }
    return current;
}

QString SendProgressText(short state, qint32 total, qint32 transferred, bool failed,
                         const QString &recipients, const QString &current)
{
    switch (DocState(state)) {
    case DocState::Begin:
        return QStringLiteral("Initiating document transfer");
    case DocState::Headers:
        return QStringLiteral("Sending headers");
    case DocState::Data:
        if (total < 1)
            return QStringLiteral("Sending...");
        // Whole-number arithmetic truncates exactly where floating point
        // could land a hair below (29 of 100 must read 29, not 28).
        return QStringLiteral("Sending data: %1 of %2 bytes (%3%)")
            .arg(transferred)
            .arg(total)
            .arg(qint64(transferred) * 100 / total);
    case DocState::End:
        if (failed)
            return QStringLiteral("Transfer aborted");
        return QStringLiteral("Mail sent to %1 (%2 bytes data)").arg(recipients, QString::number(transferred));
    }
    return current;
}

QString RetrieveProgressText(short state, qint32 transferred, bool failed, const QString &current)
{
    switch (DocState(state)) {
    case DocState::Begin:
        return QStringLiteral("Initiating document transfer");
    case DocState::Headers:
        return QStringLiteral("Retrieving headers");
    case DocState::Data:
        return QStringLiteral("Retrieving data - %1 bytes").arg(transferred);
    case DocState::End:
        if (failed)
            return QStringLiteral("Transfer aborted");
        return QStringLiteral("Retrieval complete (%1 bytes data)").arg(transferred);
    }
    return current;
}
