#include "testsupport.h"

#include <QFile>
#include <unistd.h>
#include <algorithm>

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

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QCoreApplication>

namespace {
QString MaildirOf(const TestServers &servers, const QString &user)
{
    return servers.value(QStringLiteral("MAILDIR_BASE")) + QLatin1Char('/') + user;
}

QFileInfoList MessageFiles(const QString &maildir)
{
    QFileInfoList files;
    for (const char *sub : {"new", "cur"})
        files += QDir(maildir + QLatin1Char('/') + QLatin1String(sub)).entryInfoList(QDir::Files);
    std::sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
        // Maildir names begin with the delivery time in seconds and carry
        // its microseconds after "M".
        auto when = [](const QFileInfo &f) {
            static const QRegularExpression micro(QStringLiteral("M(\\d+)"));
            const QString name = f.fileName();
            return name.section(QLatin1Char('.'), 0, 0).toLongLong() * 1000000 +
                   micro.match(name).captured(1).toLongLong();
        };
        return when(a) < when(b);
    });
    return files;
}
} // namespace

QList<QByteArray> MaildirMessages(const TestServers &servers, const QString &user, int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QFileInfoList files;
    for (;;) {
        files = MessageFiles(MaildirOf(servers, user));
        if (files.size() >= count || timer.elapsed() > timeoutMs)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    QList<QByteArray> messages;
    for (const QFileInfo &info : files) {
        QFile file(info.absoluteFilePath());
        if (file.open(QIODevice::ReadOnly))
            messages << file.readAll();
    }
    return messages;
}

QString FindMaildirFile(const TestServers &servers, const QString &user, const QByteArray &needle,
                        int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        for (const QFileInfo &info : MessageFiles(MaildirOf(servers, user))) {
            QFile file(info.absoluteFilePath());
            if (file.open(QIODevice::ReadOnly) && file.read(16384).contains(needle))
                return info.absoluteFilePath();
        }
        if (timer.elapsed() > timeoutMs)
            return QString();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
}

void EmptyMaildir(const TestServers &servers, const QString &user)
{
    for (const QFileInfo &info : MessageFiles(MaildirOf(servers, user)))
        QFile::remove(info.absoluteFilePath());
}

bool SeedMaildir(const TestServers &servers, const QString &user, const QList<QByteArray> &messages)
{
    static int serial = 0;
    const QString base = MaildirOf(servers, user);
    const uint owner = servers.value(QStringLiteral("MAILDIR_OWNER")).toUInt();
    const uint group = servers.value(QStringLiteral("MAILDIR_GROUP")).toUInt();
    for (const QByteArray &message : messages) {
        ++serial;
        const QString name = QStringLiteral("%1.M%2P%3Q%4.orvtest")
                                 .arg(QDateTime::currentSecsSinceEpoch())
                                 .arg(serial, 6, 10, QLatin1Char('0'))
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(serial);
        const QString temp = base + QStringLiteral("/tmp/") + name;
        QFile file(temp);
        if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
            return false;
        file.close();
        if (::chown(QFile::encodeName(temp).constData(), owner, group) != 0)
            return false;
        if (!QFile::rename(temp, base + QStringLiteral("/new/") + name))
            return false;
    }
    return true;
}

QByteArray ParsedMessage::header(const QByteArray &name) const
{
    const QList<QByteArray> all = headersNamed(name);
    return all.isEmpty() ? QByteArray() : all.first();
}

QList<QByteArray> ParsedMessage::headersNamed(const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            values << h.second;
    return values;
}

ParsedMessage ParseMessage(const QByteArray &raw)
{
    QByteArray text = raw;
    text.replace("\r\n", "\n");
    ParsedMessage parsed;
    const qsizetype end = text.indexOf("\n\n");
    const QByteArray head = end < 0 ? text : text.left(end);
    parsed.body = end < 0 ? QByteArray() : text.mid(end + 2);
    for (const QByteArray &line : head.split('\n')) {
        if ((line.startsWith(' ') || line.startsWith('\t')) && !parsed.headers.isEmpty()) {
            parsed.headers.last().second += line; // unfold, keeping the blank
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            parsed.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return parsed;
}
