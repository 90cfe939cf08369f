#pragma once
#include <QMap>
#include <QString>

// What the "mailservers" fixture started: read from the KEY=VALUE file named
// by ORV_SERVERS_ENV (SMTP_PORT, POP_PORT, MAILDIR_BASE, ...).
struct TestServers {
    bool ok = false;
    QMap<QString, QString> values;
    QString value(const QString &key) const { return values.value(key); }
    int port(const QString &key) const { return values.value(key).toInt(); }
};
TestServers LoadTestServers();
