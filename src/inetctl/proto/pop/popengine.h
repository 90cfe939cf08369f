#pragma once
#include "net/engine.h"
#include "poptransaction.h"

// What the POP engine tells its owner, besides states and errors.
class PopListener : public virtual SessionListener {
public:
    virtual void ProtocolStateChanged(PopProtocolState state) = 0;
    virtual void MessageCount(qint32 count) = 0;
    virtual void DocProgress(const pop::DocEvent &event) = 0;
};

// The POP engine as its owner calls it (pop/popsession.h).
class PopEngine : public Engine {
public:
    virtual PopProtocolState ProtocolState() const = 0;
    virtual PopProtocolState ReportedProtocolState() const = 0;
    virtual bool Busy() const = 0;
    virtual void Authenticate(const QByteArray &user, const QByteArray &password) = 0;
    virtual void Retrieve(int number, bool decodeMime, qsizetype maxChars) = 0;
};
