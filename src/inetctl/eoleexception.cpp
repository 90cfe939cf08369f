#include "eoleexception.h"

namespace {

// The texts the system gives for the statuses our controls can return.
QString SystemText(quint32 scode)
{
    switch (scode) {
    case EOleException::E_Fail: return QStringLiteral("Unspecified error");
    case EOleException::E_InvalidArg: return QStringLiteral("The parameter is incorrect");
    case EOleException::E_Unexpected: return QStringLiteral("Catastrophic failure");
    case EOleException::DispE_TypeMismatch: return QStringLiteral("Type mismatch");
    case EOleException::DispE_BadIndex: return QStringLiteral("Invalid index");
    case EOleException::DispE_ParamNotFound: return QStringLiteral("Parameter not found");
    default: return QString();
    }
}

QString TrimDescription(QString text)
{
    while (!text.isEmpty()) {
        const QChar c = text.back();
        if (c.unicode() <= 32 || c == QLatin1Char('.'))
            text.chop(1);
        else
            break;
    }
    return text;
}

} // namespace

QString EOleException::MessageFor(quint32 scode, const QString &description)
{
    QString message = TrimDescription(description);
    if (message.isEmpty())
        message = TrimDescription(SystemText(scode));
    if (message.isEmpty())
        message = QStringLiteral("OLE error %1").arg(scode, 8, 16, QLatin1Char('0'));
    return message;
}

EOleException::EOleException(quint32 scode, const QString &description)
    : std::runtime_error(MessageFor(scode, description).toStdString()), m_scode(scode)
{
}
