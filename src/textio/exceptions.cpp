#include "exceptions.h"

#include <cerrno>

QString EInOutError::TextFor(int errorCode)
{
    switch (errorCode) {
    case ReadBeyondEnd: return QStringLiteral("Read beyond end of file");
    case NotAFile: return QStringLiteral("Not a regular file");
    case TooLarge: return QStringLiteral("File too large");
    case ENOENT: return QStringLiteral("File not found");
    case ENAMETOOLONG: return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE: return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS: return QStringLiteral("File access denied");
    case ENOSPC: return QStringLiteral("Disk full");
    default: return QStringLiteral("I/O error %1").arg(errorCode);
    }
}
