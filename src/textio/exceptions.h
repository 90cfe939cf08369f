#pragma once
#include <QString>
#include <stdexcept>

// An error with a message for the user (UTF-8 in what()).
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// A failed file operation, worded as the runtime words it for the
// operating-system error code.
class EInOutError : public Exception {
public:
    explicit EInOutError(int errorCode) : Exception(TextFor(errorCode)), m_errorCode(errorCode) {}
    int ErrorCode() const { return m_errorCode; }
    static QString TextFor(int errorCode);
    // Pseudo code for a read past the end of a file.
    static constexpr int ReadBeyondEnd = -1;
    // Pseudo code for a FIFO, device or socket where a file was expected:
    // reading one may block for ever or never end.
    static constexpr int NotAFile = -2;
    // Pseudo code for a file longer than its reader's stated bound.
    static constexpr int TooLarge = -3;

private:
    int m_errorCode;
};
