#pragma once
#include "net/engine.h"
#include "smtptransaction.h"

// What the SMTP engine tells its owner, besides states and errors.
class SmtpListener : public virtual SessionListener {
public:
    // The document's transfer state with its byte counts (body octets as
    // the program gave them, before line-end normalisation and encoding).
    virtual void DocProgress(DocState state, qint64 total, qint64 transferred) = 0;
};

// The SMTP engine as its owner calls it (smtp/smtpsession.h).
class SmtpEngine : public Engine {
public:
    virtual bool DocumentRunning() const = 0;
    virtual void SetCredentials(const QByteArray &user, const QByteArray &password) = 0;
    virtual void SendDocument(smtp::Document document) = 0;
};
