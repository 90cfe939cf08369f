#include "textfile.h"
#include "exceptions.h"
#include "utf8text.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TextFile {

namespace {
constexpr qsizetype ChunkSize = 64 * 1024;

[[noreturn]] void Fail(int error)
{
    throw EInOutError(error);
}

// Opens without blocking (a FIFO would wait for a writer) and keeps only a
// regular file: the check is made on what was opened, so a name swapped
// for a FIFO or device after an earlier look is still refused.
int OpenRegular(const QString &path, qint64 maxBytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        Fail(errno);
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = EInOutError::NotAFile;
    else if (info.st_size > maxBytes)
        error = EInOutError::TooLarge;
    if (error != 0) {
        ::close(fd);
        Fail(error);
    }
    return fd;
}
} // namespace

bool IsRegularFile(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

QByteArray ReadAll(const QString &path, qint64 maxBytes)
{
    const int fd = OpenRegular(path, maxBytes);
    QByteArray all;
    for (;;) {
        const qsizetype old = all.size();
        all.resize(old + ChunkSize);
        ssize_t n;
        do {
            n = ::read(fd, all.data() + old, size_t(ChunkSize));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            Fail(error);
        }
        all.resize(old + n);
        if (n == 0)
            break;
        // A file that grows while it is read is held to the same bound.
        if (all.size() > maxBytes) {
            ::close(fd);
            Fail(EInOutError::TooLarge);
        }
    }
    if (::close(fd) != 0)
        Fail(errno);
    return all;
}

LineReader::LineReader(const QString &path, qint64 maxBytes) : m_left(maxBytes)
{
    m_fd = OpenRegular(path, maxBytes);
}

LineReader::~LineReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LineReader::Fill()
{
    if (m_eof)
        return false;
    if (m_offset > 0) {
        m_buffer.remove(0, m_offset);
        m_scan -= m_offset;
        m_offset = 0;
    }
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + ChunkSize);
    ssize_t n;
    do {
        n = ::read(m_fd, m_buffer.data() + old, size_t(ChunkSize));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int error = errno;
        m_buffer.resize(old);
        Fail(error);
    }
    m_buffer.resize(old + n);
    if (n == 0)
        m_eof = true;
    m_left -= n;
    if (m_left < 0) // grew while read
        Fail(EInOutError::TooLarge);
    return n > 0;
}

QByteArray LineReader::ReadLine()
{
    for (;;) {
        qsizetype i = m_scan;
        for (; i < m_buffer.size(); ++i) {
            const char c = m_buffer.at(i);
            if (c == '\n' || (c == '\r' && (i + 1 < m_buffer.size() || m_eof))) {
                QByteArray line = m_buffer.mid(m_offset, i - m_offset);
                qsizetype next = i + 1;
                if (c == '\r' && next < m_buffer.size() && m_buffer.at(next) == '\n')
                    ++next;
                m_offset = m_scan = next;
                return line;
            }
            if (c == '\r')
                break; // a CR at the end of what we have: wait to see if LF follows
        }
        m_scan = i;
        if (!Fill() && (m_scan >= m_buffer.size())) {
            QByteArray rest = m_buffer.mid(m_offset);
            m_offset = m_scan = m_buffer.size();
            return rest;
        }
    }
}

void LineReader::Close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        Fail(errno);
}

void ReplaceAtomically(const QString &path, const QByteArray &content)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        Fail(errno);
    auto failAndClean = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        Fail(error);
    };
    // The new file takes the old one's permissions; a first save gets the
    // usual ones (mkstemp's are private).
    struct stat old {};
    if (::stat(target.constData(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failAndClean(errno);
        }
        written += n;
    }
    if (::fsync(fd) != 0)
        failAndClean(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Fail(error);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Fail(error);
    }
}

QString Decode(const QByteArray &bytes)
{
    return textcore::Utf8OrLatin1(bytes);
}

} // namespace TextFile
