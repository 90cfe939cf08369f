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

#include <QByteArray>
#include <QList>

// The messages in one user's Maildir (new and cur), oldest first, waiting
// up to timeoutMs for at least `count` of them: delivery follows the
// server's 250 by a moment.
QList<QByteArray> MaildirMessages(const TestServers &servers, const QString &user, int count = 0,
                                  int timeoutMs = 10000);
// The file of the first message in that Maildir whose first 16 KiB hold
// `needle`, waiting up to timeoutMs for it; empty when none came.
QString FindMaildirFile(const TestServers &servers, const QString &user, const QByteArray &needle,
                        int timeoutMs = 10000);
// Removes every message of that Maildir.
void EmptyMaildir(const TestServers &servers, const QString &user);
// Puts messages into a user's Maildir as new mail, owned as the server wants.
bool SeedMaildir(const TestServers &servers, const QString &user, const QList<QByteArray> &messages);

// A delivered message split into its header block (unfolded, LF line ends)
// and its body with line ends normalised to LF.
struct ParsedMessage {
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray header(const QByteArray &name) const;
    QList<QByteArray> headersNamed(const QByteArray &name) const;
};
ParsedMessage ParseMessage(const QByteArray &raw);
