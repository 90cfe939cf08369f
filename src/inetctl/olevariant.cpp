#include "olevariant.h"
#include "eoleexception.h"

QString OleVariant::ToString() const
{
    if (m_isError || (m_value.isValid() && !m_value.canConvert<QString>()))
        throw EOleException(EOleException::DispE_TypeMismatch);
    return m_value.toString();
}

qint32 OleVariant::ToInt() const
{
    bool ok = false;
    const qint32 number = m_value.toInt(&ok);
    if (m_isError || !ok)
        throw EOleException(EOleException::DispE_TypeMismatch);
    return number;
}

QObject *OleVariant::ToObject() const
{
    if (m_isError || !m_value.canConvert<QObject *>())
        throw EOleException(EOleException::DispE_TypeMismatch);
    return m_value.value<QObject *>();
}
