#pragma once
#include "inetstates.h"

#include <QList>
#include <QString>

// The values a client control hands out: header fields, its error list, and
// the outgoing and incoming document. Collections count from 1; an index
// outside 1..Count throws EOleException (invalid index).

class TDocHeader {
public:
    TDocHeader(const QString &name, const QString &value) : m_name(name), m_value(value) {}
    QString Name() const { return m_name; }
    QString Value() const { return m_value; }

private:
    QString m_name;
    QString m_value;
};

// Ordered name/value pairs.
class TDocHeaders {
public:
    void Clear() { m_items.clear(); }
    const TDocHeader &Add(const QString &name, const QString &value);
    qint32 Count() const { return qint32(m_items.size()); }
    const TDocHeader &Item(qint32 index) const;

private:
    QList<TDocHeader> m_items;
};

class TErrorItem {
public:
    explicit TErrorItem(const QString &description) : m_description(description) {}
    QString Description() const { return m_description; }

private:
    QString m_description;
};

// The control's descriptions of its last failure (the server's reply lines
// and the like), replaced whole at each failure.
class TErrors {
public:
    qint32 Count() const { return qint32(m_items.size()); }
    const TErrorItem &Item(qint32 index) const;
    void Clear() { m_items.clear(); }
    void Add(const QString &description) { m_items.append(TErrorItem(description)); }

private:
    QList<TErrorItem> m_items;
};

// The outgoing document: the program fills Headers (and FileName) before
// SendDoc; the control reports the transfer in the rest.
class TDocInput {
public:
    TDocHeaders &Headers() { return m_headers; }
    short State() const { return short(m_state); }
    qint32 BytesTotal() const { return m_bytesTotal; }
    qint32 BytesTransferred() const { return m_bytesTransferred; }
    QString FileName() const { return m_fileName; }
    void SetFileName(const QString &name) { m_fileName = name; }

    // Set by the owning control before it raises OnDocInput.
    void SetProgress(DocState state, qint64 total, qint64 transferred);

private:
    TDocHeaders m_headers;
    DocState m_state{};
    qint32 m_bytesTotal = 0;
    qint32 m_bytesTransferred = 0;
    QString m_fileName;
};

// The incoming document, as the control reports its retrieval.
class TDocOutput {
public:
    const TDocHeaders &Headers() const { return m_headers; }
    short State() const { return short(m_state); }
    qint32 BytesTransferred() const { return m_bytesTransferred; }
    // The body text that came with the current data notification.
    QString GetData() const { return m_data; }

    // Set by the owning control before it raises OnDocOutput.
    void SetProgress(DocState state, qint64 transferred, const QString &data = QString());
    TDocHeaders &EditHeaders() { return m_headers; }

private:
    TDocHeaders m_headers;
    DocState m_state{};
    qint32 m_bytesTransferred = 0;
    QString m_data;
};

// Byte counts beyond 32 bits show as the largest count rather than wrap.
qint32 ClampCount(qint64 count);
