#pragma once
#include <QObject>
#include <QString>
#include <QVariant>

// The value type of the controls' method arguments. "Omitted" is an explicit
// error-type value (parameter not found), never a silent default, so that a
// control can tell "not given" from "given as empty text".
class OleVariant {
public:
    static constexpr quint32 ParamNotFound = 0x80020004u;

    OleVariant() = default;
    OleVariant(const QString &text) : m_value(text) {}
    OleVariant(const char *text) : m_value(QString::fromUtf8(text)) {}
    OleVariant(qint32 number) : m_value(number) {}
    OleVariant(bool flag) : m_value(flag) {}
    OleVariant(QObject *object) : m_value(QVariant::fromValue(object)) {}

    static OleVariant Omitted() { return Error(ParamNotFound); }
    static OleVariant Error(quint32 scode)
    {
        OleVariant v;
        v.m_isError = true;
        v.m_scode = scode;
        return v;
    }

    bool IsOmitted() const { return m_isError && m_scode == ParamNotFound; }
    bool IsError() const { return m_isError; }
    bool IsEmpty() const { return !m_isError && !m_value.isValid(); }
    quint32 ErrorCode() const { return m_scode; }
    const QVariant &Value() const { return m_value; }

    // Conversions used by the controls; a value of the wrong kind throws
    // EOleException (type mismatch), as an automation call would fail.
    QString ToString() const;
    qint32 ToInt() const;
    QObject *ToObject() const;

private:
    QVariant m_value;
    bool m_isError = false;
    quint32 m_scode = 0;
};
