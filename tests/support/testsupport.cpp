#include "testsupport.h"

#include <QFile>

TestServers LoadTestServers()
{
    TestServers servers;
    QFile file(qEnvironmentVariable("ORV_SERVERS_ENV"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return servers;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            servers.values.insert(line.left(eq), line.mid(eq + 1));
    }
    servers.ok = !servers.values.isEmpty();
    return servers;
}
