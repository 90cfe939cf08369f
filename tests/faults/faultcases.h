#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The two lists the fault matrix crosses: the steps of each protocol and the
// ways a server can fail at them. Script steps are ScriptServer's.

// Where in a session a fault strikes.
enum class FaultContext {
    Reply,    // instead of the reply the client waits for
    SmtpBody, // while the client's message text streams to the server
    PopBody,  // in the middle of a message the server is sending
};

// How the test brings the control to the step.
enum class Drive {
    Connect,   // Connect (POP: and log in when asked)
    Send,      // connect, then send a short document to two recipients
    SendLarge, // connect, then send a 32 MiB file
    Retrieve,  // connect, log in, then retrieve message 1
    Quit,      // connect (POP: log in), then Quit
};

struct Outcome {
    short error = 0; // the one OnError number, 0 for none
    short state = 6; // the connection state the control ends in
};

// One way a server misbehaves, as it shows in each context.
struct Fault {
    QString name;
    QStringList smtpReply; // instead of an SMTP reply
    QStringList popReply;  // instead of a POP status line
    QStringList smtpBody;  // while the client's text streams
    QStringList popBody;   // inside a message being retrieved
    short error;           // what it must raise; 0: a refusal, the step decides
    // Inside a retrieved message these faults are only text: the octets that
    // must arrive in the body. Null: the fault ends the session there too.
    QByteArray bodyText;
};

struct Step {
    QString name;
    QStringList prefix; // the normal session up to the step
    FaultContext context;
    Drive drive;
    Outcome refused;           // after a 4xx/5xx (POP: -ERR) here
    QStringList afterRefusal;  // what the client then says, with the answers
    QString successEvent;      // the event that would claim the step succeeded
};

const QList<Fault> &Faults();
const QList<Step> &SmtpSteps();
const QList<Step> &PopSteps();

// The session that works after a fault: a short document / message 1.
QStringList GoodSmtpSession();
QStringList GoodPopSession();
// The next transaction on a session that a refusal left open, and its end.
QStringList NextSmtpDocument();
QStringList NextPopMessage();
// The body that NextPopMessage and GoodPopSession deliver.
QString NextPopBody();
// What a retrieved message holds before a mid-body fault.
QByteArray PopBodyBeforeFault();

QStringList ScriptFor(const Step &step, const Fault &fault, bool smtp);
Outcome Expected(const Step &step, const Fault &fault);
// The fault's script steps as table text.
QString Describe(const QStringList &steps);
