#include "hostport.h"

namespace {
bool ParsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value < 1 || value > 65535 || text.startsWith(QLatin1Char('+')))
        return false;
    *port = quint16(value);
    return true;
}
} // namespace

HostPort ParseHostPort(const QString &text, quint16 defaultPort)
{
    HostPort result;
    const QString t = text.trimmed();
    result.port = defaultPort;
    if (t.isEmpty()) {
        result.error = QStringLiteral("No remote host given");
        return result;
    }
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 2) {
            result.error = QStringLiteral("Malformed remote host \"%1\"").arg(t);
            return result;
        }
        result.host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')) || !ParsePort(rest.mid(1), &result.port)) {
                result.error = QStringLiteral("Invalid port in remote host \"%1\"").arg(t);
                return result;
            }
        }
        result.ok = true;
        return result;
    }
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    if (colon >= 0 && t.indexOf(QLatin1Char(':'), colon + 1) < 0) {
        result.host = t.left(colon);
        if (result.host.isEmpty() || !ParsePort(t.mid(colon + 1), &result.port)) {
            result.error = QStringLiteral("Invalid port in remote host \"%1\"").arg(t);
            return result;
        }
    } else {
        result.host = t; // a name, or a bare IPv6 address
    }
    if (result.host.contains(QLatin1Char(' ')) || result.host.contains(QLatin1Char('/'))) {
        result.error = QStringLiteral("Malformed remote host \"%1\"").arg(t);
        return result;
    }
    result.ok = true;
    return result;
}
