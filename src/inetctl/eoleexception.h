#pragma once
#include <QString>
#include <stdexcept>

// A failed call to a client control (method or property access). what() is
// UTF-8 text: the control's description with trailing blanks, control
// characters and full stops removed, else the system's text for the status,
// else "OLE error %.8x".
class EOleException : public std::runtime_error {
public:
    static constexpr quint32 E_Fail = 0x80004005u;
    static constexpr quint32 E_InvalidArg = 0x80070057u;
    static constexpr quint32 E_Unexpected = 0x8000FFFFu;
    static constexpr quint32 DispE_TypeMismatch = 0x80020005u;
    static constexpr quint32 DispE_BadIndex = 0x8002000Bu;
    static constexpr quint32 DispE_ParamNotFound = 0x80020004u;

    EOleException(quint32 scode, const QString &description = QString());

    quint32 ErrorCode() const { return m_scode; }
    QString Message() const { return QString::fromUtf8(what()); }

    // The message rule on its own, for callers and tests.
    static QString MessageFor(quint32 scode, const QString &description);

private:
    quint32 m_scode;
};
