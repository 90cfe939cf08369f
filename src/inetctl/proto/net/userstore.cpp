#include "userstore.h"
#include "trust.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLockFile>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char FolderName[] = "orvanta-mail";
const char TrustFileName[] = "trusted-certificates";
const char EncryptionFileName[] = "encrypted-servers";
const char LockFileName[] = ".lock";

const char TrustFileHeader[] =
    "# Orvanta Mail: server certificates you chose to trust, \"host:port SHA-256-fingerprint\" a line";
const char EncryptionFileHeader[] =
    "# Orvanta Mail: servers that offered an encrypted connection before, \"host:port\" a line";

// Thousands of servers fit in far less; a larger file is not one this
// program keeps, and is refused rather than read whole into memory.
constexpr qint64 MaxStoreFileSize = 4 * 1024 * 1024;

// Another running copy holds the lock only while it rewrites a small file;
// waiting longer than this means it hangs, and this one must not.
constexpr int LockTimeoutMs = 2000;

void SetError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

bool IsAbsoluteDir(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path);
}

// A host as the files key it, or "" when it cannot be one. Spaces, control
// and format characters and '#' would break the line format or hide what
// the line says.
QString HostKey(QString host)
{
    QString key;
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    if (host.contains(QLatin1Char(':'))) {
        QHostAddress address;
        if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol)
            return {};
        key = QLatin1Char('[') + address.toString().toLower() + QLatin1Char(']');
    } else {
        if (bracketed || host.startsWith(QLatin1Char('.')) || host.contains(QLatin1Char('['))
            || host.contains(QLatin1Char(']')))
            return {};
        if (host.size() > 1 && host.endsWith(QLatin1Char('.')))
            host.chop(1);
        key = host.toLower();
    }
    if (key.isEmpty())
        return {};
    for (const QChar c : std::as_const(key)) {
        const QChar::Category category = c.category();
        if (c.isSpace() || category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_Surrogate || c == QLatin1Char('#') || c == QLatin1Char('/'))
            return {};
    }
    return key;
}

// "host:port" written by anyone, the user's own edits included, in the form
// ServerKey gives; "" when malformed.
QString NormalServerKey(QStringView text)
{
    text = text.trimmed();
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return {};
    const QStringView host = text.left(colon);
    // A bare IPv6 address with a port is ambiguous: it needs its brackets.
    if (host.contains(QLatin1Char(':')) && !(host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))))
        return {};
    const QStringView portText = text.mid(colon + 1);
    if (portText.isEmpty() || portText.size() > 5)
        return {};
    for (const QChar c : portText) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return {};
    }
    const uint port = portText.toUInt();
    if (port > 65535)
        return {};
    return UserStore::ServerKey(host.toString(), quint16(port));
}

// The fields of a line; none for blank and comment lines. Lines are read
// as bytes and may end in CR when a user's editor wrote them.
QStringList Fields(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line).simplified();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return {};
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// A pin line's server and fingerprint; false for a line that is none.
bool ParsePin(const QByteArray &line, QString *server, QString *fingerprint)
{
    const QStringList fields = Fields(line);
    if (fields.size() != 2)
        return false;
    *server = NormalServerKey(fields.at(0));
    *fingerprint = NormalFingerprint(fields.at(1));
    return !server->isEmpty() && !fingerprint->isEmpty();
}

QString ParseServerLine(const QByteArray &line)
{
    const QStringList fields = Fields(line);
    return fields.size() == 1 ? NormalServerKey(fields.at(0)) : QString();
}

struct StoreFile {
    bool ok = false;
    QByteArrayList lines; // without their LF, exactly as in the file
    QString error;
};

// Reads a store file without blocking on whatever sits at its name (a FIFO
// would hang the window). A missing file is an empty store.
StoreFile ReadStoreFile(const QString &path)
{
    StoreFile result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        result.ok = code == ENOENT;
        if (!result.ok)
            result.error = QStringLiteral("Cannot read %1: %2").arg(path, qt_error_string(code));
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.error = QStringLiteral("%1 is not a regular file").arg(path);
        return result;
    }
    QByteArray data;
    data.resize(qMin<qint64>(qMax<qint64>(info.st_size, 0), MaxStoreFileSize) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (data.size() > MaxStoreFileSize)
                break;
            data.resize(qMin<qint64>(data.size() * 2, MaxStoreFileSize + 1));
        }
        const ssize_t n = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            result.error = QStringLiteral("Cannot read %1: %2").arg(path, qt_error_string(code));
            return result;
        }
        if (n == 0)
            break;
        filled += n;
    }
    ::close(fd);
    if (filled > MaxStoreFileSize) {
        result.error = QStringLiteral("%1 is too large to be one of this program's files").arg(path);
        return result;
    }
    data.truncate(filled);
    if (data.endsWith('\n'))
        data.chop(1);
    if (!data.isEmpty())
        result.lines = data.split('\n');
    result.ok = true;
    return result;
}

// Creates the folder and any missing parent private to the user, as the
// XDG base directory rules ask for directories a program creates.
bool MakeFolder(const QString &folder, QString *error)
{
    QStringList missing;
    for (QString path = QDir::cleanPath(folder); !QFileInfo(path).isDir();) {
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
            SetError(error, QStringLiteral("Cannot create the folder %1: %2 is not a folder").arg(folder, path));
            return false;
        }
        missing.prepend(path);
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0) {
            ::chmod(QFile::encodeName(path).constData(), 0700); // whatever the umask left
            continue;
        }
        const int code = errno;
        if (code == EEXIST && QFileInfo(path).isDir())
            continue; // another copy made it meanwhile
        SetError(error, QStringLiteral("Cannot create the folder %1: %2").arg(path, qt_error_string(code)));
        return false;
    }
    return true;
}

bool WriteStoreFile(const QString &path, const QByteArrayList &lines, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        SetError(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    // Which servers the user trusts is nobody else's business.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray data;
    for (const QByteArray &line : lines)
        data += line + '\n';
    if (file.write(data) != data.size() || !file.commit()) {
        SetError(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

// Reads, changes and replaces one store file while holding the folder's
// lock, so that two running copies never lose each other's lines. `change`
// edits the lines and returns false when there is nothing to write.
bool Rewrite(const char *fileName, const char *header, const std::function<bool(QByteArrayList &)> &change,
             QString *error)
{
    const QString folder = UserStore::Folder();
    if (folder.isEmpty()) {
        SetError(error, QStringLiteral("No folder for the user's files: neither XDG_CONFIG_HOME nor HOME is set"));
        return false;
    }
    if (!MakeFolder(folder, error))
        return false;
    QLockFile lock(folder + QLatin1Char('/') + QLatin1String(LockFileName));
    if (!lock.tryLock(LockTimeoutMs)) {
        SetError(error, lock.error() == QLockFile::LockFailedError
                            ? QStringLiteral("%1 is being changed by another program; try again").arg(folder)
                            : QStringLiteral("Cannot lock %1 for writing").arg(folder));
        return false;
    }
    const QString path = folder + QLatin1Char('/') + QLatin1String(fileName);
    StoreFile file = ReadStoreFile(path);
    if (!file.ok) {
        // Writing over a file that could not be read would lose its lines.
        SetError(error, file.error);
        return false;
    }
    if (file.lines.isEmpty())
        file.lines.append(QByteArray(header));
    if (!change(file.lines))
        return true;
    return WriteStoreFile(path, file.lines, error);
}

QString StorePath(const char *fileName)
{
    const QString folder = UserStore::Folder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(fileName);
}

} // namespace

QString UserStore::Folder()
{
    // Read each time: the environment is the user's to change.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!IsAbsoluteDir(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!IsAbsoluteDir(home))
            return {};
        base = home + QLatin1String("/.config");
    }
    return QDir::cleanPath(base + QLatin1Char('/') + QLatin1String(FolderName));
}

QString UserStore::ServerKey(const QString &host, quint16 port)
{
    const QString key = HostKey(host);
    if (key.isEmpty() || port == 0)
        return {};
    return key + QLatin1Char(':') + QString::number(port);
}

QString UserStore::TrustedFingerprint(const QString &server)
{
    const QString key = NormalServerKey(server);
    const QString path = StorePath(TrustFileName);
    if (key.isEmpty() || path.isEmpty())
        return {};
    QString trusted;
    QString lineServer, lineFingerprint;
    for (const QByteArray &line : ReadStoreFile(path).lines) {
        if (ParsePin(line, &lineServer, &lineFingerprint) && lineServer == key)
            trusted = lineFingerprint; // the last pin of a hand-edited file wins
    }
    return trusted;
}

bool UserStore::TrustCertificate(const QString &server, const QString &fingerprint, QString *error)
{
    const QString key = NormalServerKey(server);
    if (key.isEmpty()) {
        SetError(error, QStringLiteral("\"%1\" is not a server and port").arg(OneLineForDisplay(server)));
        return false;
    }
    const QString normal = NormalFingerprint(fingerprint);
    if (normal.isEmpty()) {
        SetError(error, QStringLiteral("\"%1\" is not a SHA-256 fingerprint").arg(OneLineForDisplay(fingerprint)));
        return false;
    }
    const QByteArray pin = (key + QLatin1Char(' ') + normal).toUtf8();
    return Rewrite(
        TrustFileName, TrustFileHeader,
        [&](QByteArrayList &lines) {
            // The new pin takes the place of the old one; no second pin for
            // the server stays behind to be read instead.
            bool placed = false;
            QString lineServer, lineFingerprint;
            for (qsizetype i = 0; i < lines.size();) {
                if (!ParsePin(lines.at(i), &lineServer, &lineFingerprint) || lineServer != key) {
                    ++i;
                } else if (!placed) {
                    lines[i++] = pin;
                    placed = true;
                } else {
                    lines.removeAt(i);
                }
            }
            if (!placed)
                lines.append(pin);
            return true;
        },
        error);
}

bool UserStore::OfferedEncryption(const QString &server)
{
    const QString key = NormalServerKey(server);
    const QString path = StorePath(EncryptionFileName);
    if (key.isEmpty() || path.isEmpty())
        return false;
    for (const QByteArray &line : ReadStoreFile(path).lines) {
        if (ParseServerLine(line) == key)
            return true;
    }
    return false;
}

bool UserStore::NoteEncryptionOffered(const QString &server, QString *error)
{
    const QString key = NormalServerKey(server);
    if (key.isEmpty()) {
        SetError(error, QStringLiteral("\"%1\" is not a server and port").arg(OneLineForDisplay(server)));
        return false;
    }
    if (OfferedEncryption(key))
        return true;
    return Rewrite(
        EncryptionFileName, EncryptionFileHeader,
        [&](QByteArrayList &lines) {
            for (const QByteArray &line : std::as_const(lines)) {
                if (ParseServerLine(line) == key)
                    return false; // another copy noted it meanwhile
            }
            lines.append(key.toUtf8());
            return true;
        },
        error);
}
