#pragma once
#include <QString>

// Where to connect, taken from a RemoteHost text: "host", "host:port",
// "[v6-address]:port" or "[v6-address]". A bare IPv6 address (more than one
// colon, no brackets) is taken whole as the host.
struct HostPort {
    QString host;
    quint16 port = 0;
    bool ok = false;
    QString error; // why the text is not usable, when !ok
};

HostPort ParseHostPort(const QString &text, quint16 defaultPort);
