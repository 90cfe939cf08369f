#pragma once
#include "olevariant.h"

#include <QList>
#include <QObject>
#include <QString>

// The objects a client control hands out: header collections with their
// items, the error list, and the outgoing and incoming document. The control
// owns them; callers hold plain pointers for the length of a handler.

class TDocHeader : public QObject {
    Q_OBJECT
public:
    TDocHeader(const QString &name, const QString &value, QObject *parent = nullptr)
        : QObject(parent), m_name(name), m_value(value) {}
    QString Name() const { return m_name; }
    QString Value() const { return m_value; }

private:
    QString m_name;
    QString m_value;
};

// Ordered name/value pairs, 1-based like every automation collection.
class TDocHeaders : public QObject {
    Q_OBJECT
public:
    explicit TDocHeaders(QObject *parent = nullptr) : QObject(parent) {}
    void Clear();
    TDocHeader *Add(const QString &name, const QString &value);
    qint32 Count() const { return qint32(m_items.size()); }
    // index: an integer variant from 1 to Count; anything else throws.
    TDocHeader *Item(const OleVariant &index) const;

private:
    QList<TDocHeader *> m_items;
};

class TErrorItem : public QObject {
    Q_OBJECT
public:
    TErrorItem(const QString &description, QObject *parent = nullptr)
        : QObject(parent), m_description(description) {}
    QString Description() const { return m_description; }

private:
    QString m_description;
};

// The control's descriptions of its last failure (server reply lines and
// the like), replaced whole at each failure.
class TErrors : public QObject {
    Q_OBJECT
public:
    explicit TErrors(QObject *parent = nullptr) : QObject(parent) {}
    qint32 Count() const { return qint32(m_items.size()); }
    TErrorItem *Item(const OleVariant &index) const;
    void Clear();
    void Add(const QString &description);

private:
    QList<TErrorItem *> m_items;
};


class TDocInput : public QObject {
    Q_OBJECT
public:
    explicit TDocInput(QObject *parent = nullptr) : QObject(parent), m_headers(new TDocHeaders(this)) {}
    TDocHeaders *Headers() const { return m_headers; }
    short State() const { return m_state; }
    qint32 BytesTotal() const { return m_bytesTotal; }
    qint32 BytesTransferred() const { return m_bytesTransferred; }
    QString FileName() const { return m_fileName; }
    void SetFileName(const QString &name) { m_fileName = name; }

    // Set by the owning control before it raises OnDocInput.
    void SetProgress(short state, qint32 total, qint32 transferred)
    {
        m_state = state;
        m_bytesTotal = total;
        m_bytesTransferred = transferred;
    }

private:
    TDocHeaders *m_headers;
    short m_state = 0;
    qint32 m_bytesTotal = 0;
    qint32 m_bytesTransferred = 0;
    QString m_fileName;
};

class TDocOutput : public QObject {
    Q_OBJECT
public:
    explicit TDocOutput(QObject *parent = nullptr) : QObject(parent), m_headers(new TDocHeaders(this)) {}
    TDocHeaders *Headers() const { return m_headers; }
    short State() const { return m_state; }
    qint32 BytesTransferred() const { return m_bytesTransferred; }
    // The body chunk that came with the current data notification.
    QString GetData() const { return m_data; }

    // Set by the owning control before it raises OnDocOutput.
    void SetProgress(short state, qint32 transferred, const QString &data = QString())
    {
        m_state = state;
        m_bytesTransferred = transferred;
        m_data = data;
    }

private:
    TDocHeaders *m_headers;
    short m_state = 0;
    qint32 m_bytesTransferred = 0;
    QString m_data;
};
