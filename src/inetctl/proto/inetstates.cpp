#include "inetstates.h"

QString toString(ConnState state)
{
    switch (state) {
    case ConnState::Connecting: return QStringLiteral("Connecting");
    case ConnState::Resolving: return QStringLiteral("Resolving");
    case ConnState::Resolved: return QStringLiteral("Resolved");
    case ConnState::Connected: return QStringLiteral("Connected");
    case ConnState::Disconnecting: return QStringLiteral("Disconnecting");
    case ConnState::Disconnected: return QStringLiteral("Disconnected");
    }
    return QStringLiteral("ConnState(%1)").arg(short(state));
}

QString toString(PopProtocolState state)
{
    switch (state) {
    case PopProtocolState::None: return QStringLiteral("None");
    case PopProtocolState::Authorization: return QStringLiteral("Authorization");
    case PopProtocolState::Transaction: return QStringLiteral("Transaction");
    }
    return QStringLiteral("PopProtocolState(%1)").arg(short(state));
}
