#pragma once
#include "inetstates.h"
#include "net/engine.h"
#include "smtpbody.h"
#include "smtpmessage.h"
#include "smtpreply.h"

#include <QFile>

#include <optional>

namespace smtp {

// The replies the engine waits for, each named after the reply it expects:
// read in order, they are the session's transcript.
enum class Await {
    Greeting220,
    Ehlo250,
    Helo250,
    StartTls220,
    Auth235,   // AUTH and each response to a 334 challenge
    Mail250,
    Rcpt250,
    Data354,
    DataEnd250,
    Rset250,
    Quit221,
    Nothing, // the reply to a command whose transaction was abandoned
};

// What the handshake and a transaction need of their session: the wire,
// what the server offered, and the owner's progress events. The session is
// one; tests provide another, so that a transaction is tested without a
// socket.
class Link {
public:
    virtual ~Link() = default;
    // Writes the command and its CRLF; its reply is awaited next after those
    // already awaited.
    virtual void Send(const QByteArray &command, Await await) = 0;
    // Writes bytes of the DATA stream as they are.
    virtual void Write(const QByteArray &bytes) = 0;
    // A reply awaited without a command of its own (the end of DATA).
    virtual void Expect(Await await) = 0;
    // Bytes written and not yet taken by the network.
    virtual qint64 Backlog() const = 0;
    virtual bool Offers(QByteArrayView extension) const = 0;
    // The connection must be encrypted before anything else is said: this
    // server offered STARTTLS before, or it is a submission port; *why says
    // so for the error.
    virtual bool MustEncrypt(QString *why) const = 0;
    virtual void Progress(DocState state, qint64 total, qint64 transferred) = 0;
};

// How a step of the handshake or a transaction ended, for the session to
// act on once the object is done with it.
struct Outcome {
    enum Kind {
        Going,     // nothing to do yet
        Ready,     // handshake: the session is open
        StartTls,  // handshake: the server agreed to STARTTLS
        SignedIn,  // sign-in: the server took the credentials
        Sent,      // transaction: the server took responsibility for the message
        Refused,   // transaction: the document failed; the session stays usable
        Broken,    // the session must end
    } kind = Going;
    SessionFailure failure{InetError::ProtocolError, {}, {}};
    bool resetNeeded = false; // Refused: RSET before the next transaction

    static Outcome Of(Kind kind) { return {kind, {InetError::ProtocolError, {}, {}}, false}; }
    static Outcome Failed(Kind kind, InetError number, const QString &description, const QStringList &lines = {},
                          bool resetNeeded = false)
    {
        return {kind, {number, description, lines}, resetNeeded};
    }
};

// The opening of a session (RFC 5321 4.1.1.1, RFC 3207): greeting, EHLO
// (HELO when refused), STARTTLS whenever offered and EHLO again over TLS.
class Handshake {
public:
    explicit Handshake(Link &link) : m_link(link) {}
    // The extensions the server listed in its last EHLO reply.
    bool Offers(QByteArrayView keyword) const;
    // The sign-in mechanisms the last EHLO reply offered.
    QList<QByteArray> Mechanisms() const { return m_mechanisms; }
    void SetHelloName(const QByteArray &name) { m_helloName = name; }
    void Reset()
    {
        m_extensions.clear();
        m_mechanisms.clear();
    }
    // TLS is up: what the server said in clear may have been forged.
    void Encrypted();

    Outcome OnGreeting220(const Reply &reply);
    Outcome OnEhlo250(const Reply &reply, bool encrypted);
    Outcome OnHelo250(const Reply &reply);
    Outcome OnStartTls220(const Reply &reply);

private:
    Link &m_link;
    QByteArray m_helloName = "localhost";
    QList<QByteArray> m_extensions;
    QList<QByteArray> m_mechanisms;
};

// What a document is made of before it is sent.
struct Document {
    HeaderList headers;
    QByteArray text;      // the body, unless it comes from a file
    bool fromFile = false;
    QString fileName;
};

// One document from MAIL to the server's verdict on its DATA (RFC 5321
// 3.3): the envelope (pipelined when the server offers it, RFC 2920), then
// the body streamed from memory or disk, normalised, dot-stuffed and
// encoded as it goes.
class Transaction {
public:
    Transaction(Link &link, Document document);
    ~Transaction();

    // Reads what the body holds and builds the header block and envelope;
    // a refusal here (no file, bad header, no recipient) sends nothing.
    Outcome Prepare();
    void Start();
    bool Started() const { return m_phase != Phase::Preparing; }
    // 354 came and the body is on its way: the DATA cannot be taken back.
    bool InData() const { return m_phase == Phase::Body || m_phase == Phase::Verdict; }
    qint64 Total() const { return m_total; }
    qint64 Transferred() const { return m_transferred; }

    Outcome OnMail250(const Reply &reply);
    Outcome OnRcpt250(const Reply &reply);
    Outcome OnData354(const Reply &reply);
    Outcome OnDataEnd250(const Reply &reply);
    // The socket took bytes: more of the body while it keeps up.
    Outcome Pump();

private:
    enum class Phase { Preparing, Envelope, Body, Verdict };
    Outcome EnvelopeReplied();
    void NoteRefusal(InetError number, const Reply &reply, const QString &fallback);
    bool ReadBodyChunk(QByteArray *chunk, QString *error);
    QByteArray Encoded(QByteArrayView chunk);

    Link &m_link;
    Document m_document;
    Phase m_phase = Phase::Preparing;
    Envelope m_envelope;
    BodyEncoding m_encoding = BodyEncoding::SevenBit;
    QFile m_file;
    qint64 m_fileLeft = 0; // of the file as it was opened, still to send
    qint64 m_textPos = 0;
    qint64 m_total = 0;
    qint64 m_transferred = 0;
    qsizetype m_nextRecipient = 0;    // the next RCPT to send
    qsizetype m_repliedRecipients = 0;
    int m_outstanding = 0;            // envelope replies still to come
    std::optional<Outcome> m_refusal; // the first refusal of the envelope
    bool m_headersWritten = false;
    bool m_dataRaised = false;
    DotStuffer m_stuffer;
    QpEncoder m_qp;
};

} // namespace smtp
