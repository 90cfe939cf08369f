#pragma once
#include "ineterrors.h"
#include "inetstates.h"
#include "trust.h"

#include <QString>
#include <QStringList>

// A failure as the control reports it: its number, a description (the
// server's own words when it sent some) and the server's reply lines.
struct SessionFailure {
    InetError number;
    QString description;
    QStringList serverLines;
};

// What every engine tells its owner.
class SessionListener {
public:
    virtual ~SessionListener() = default;
    virtual void SessionStateChanged(ConnState state) = 0;
    virtual void SessionError(const SessionFailure &failure) = 0;
};

// What an owner asks of either engine (see net/inetsession.h for what each
// call means). The engines live in a module of their own that the controls
// open at the first connection: the network and TLS libraries then load only
// when a connection is made, not at every start of the program. The owner
// therefore reaches them through these interfaces alone.
class Engine {
public:
    virtual ~Engine() = default;
    virtual ConnState State() const = 0;
    virtual ConnState ReportedState() const = 0;
    virtual bool EventsWaiting() const = 0;
    virtual void SetTimeoutSeconds(int seconds) = 0;
    virtual void SetCertificateDecider(CertificateDecider *decider) = 0;
    virtual void Open(const QString &remoteHost, int defaultPort, int explicitPort) = 0;
    virtual void Quit() = 0;
};
