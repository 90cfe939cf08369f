#include "internetcontrol.h"

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

TInternetControl::TInternetControl(int defaultPort, QWidget *parent)
    : QWidget(parent), m_errors(new TErrors(this)), m_remotePort(defaultPort)
{
    // Invisible at run time: the window shows nothing of it and it never
    // takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setMaximumSize(32, 32);
    hide();
}

TInternetControl::~TInternetControl() = default;
