#pragma once
#include "engine.h"
#include "ineterrors.h"
#include "inetstates.h"
#include "trust.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class QSslCertificate;
class QSslSocket;
class QTcpSocket;

// The connection layer both engines share: RemoteHost parsing, the
// asynchronous lookup (states 2 and 3), trying each address in turn, TLS
// (from the first byte on the implicit-TLS port, or when the engine asks for
// the upgrade), the silence timeout, a receive buffer read with an offset,
// and the outbox through which every event leaves.
//
// Events are posted while the engine works and raised only once the step
// that posted them is complete: at the end of a call from the owner or of
// the replies read in one pass (input is read from the event loop, never
// inside the socket's signal), else from the event loop. A reply that
// tells more than progress ends its pass: what it set off is raised before
// the next reply is read. A handler
// may then run a nested event loop, call back into the engine (Quit, a new
// document) or have the owner deleted: the engine is consistent, and what a
// handler starts is raised after the events already waiting, in order.
// While events are being raised, received bytes wait in the socket, so that
// a handler's modal box holds the server back instead of filling memory.
class InetSession : public QObject {
    Q_OBJECT
public:
    // On implicitTlsPort the connection is encrypted before the engine sees
    // a byte.
    InetSession(SessionListener *listener, quint16 implicitTlsPort, QObject *parent = nullptr);
    ~InetSession() override;

    // The state as the engine works with it, and as the owner has been told
    // it so far: a handler that asks sees the session as the event it
    // handles left it, not as later steps already waiting to be raised did.
    ConnState State() const { return m_state; }
    ConnState ReportedState() const { return m_reportedState; }
    void SetTimeoutSeconds(int seconds);
    // Events posted and not yet raised: the owner stays busy until they are.
    bool EventsWaiting() const { return !m_outbox.empty(); }
    // Of those, events that tell the owner more than progress: a step that
    // posted one is raised before the next reply is read.
    bool NewsWaiting() const { return m_news > 0; }

    // Starts states 1, 2, 3 and the TCP connection to remoteHost: at its own
    // ":port" if it names one, else at defaultPort; explicitPort (above 0)
    // overrides both. The caller has checked that the session is
    // disconnected.
    void Open(const QString &remoteHost, int defaultPort, int explicitPort);

    // Ends the session at once without a word to the server; no events.
    // Used when the owner goes away.
    void Shutdown();

    // Who is asked about a certificate nobody vouches for (self-signed, or
    // from an unknown authority) that the user has not trusted before.
    // Without one, such a certificate is refused.
    void SetCertificateDecider(CertificateDecider *decider) { m_decider = decider; }

protected:
    // Every way into the engine, from the owner or from the network, runs
    // as one step: events it posts are raised when the outermost step ends,
    // at once where no socket's signal is on the stack, else from the event
    // loop.
    class Step {
    public:
        explicit Step(InetSession *session, bool raiseAtOnce = true);
        ~Step();
        Step(const Step &) = delete;
        Step &operator=(const Step &) = delete;

    private:
        InetSession *m_session;
        bool m_raiseAtOnce;
    };

    // Queues an event for the owner (see above). Events of one piece of
    // work may carry its tag, to be withdrawn when new work supersedes it.
    // Progress (bytes of a document that is under way) changes nothing a
    // handler could ask about, so reading goes on behind it.
    enum class Kind { News, Progress };
    void Post(std::function<void()> event, quint64 tag = 0, Kind kind = Kind::News);
    void Withdraw(quint64 tag);
    void PostState(ConnState state);
    void PostError(InetError number, const QString &description, const QStringList &serverLines = {});

    // The connection is up (and encrypted on the implicit-TLS port); the
    // engine now waits for the greeting.
    virtual void OnConnected() = 0;
    // The upgrade asked for by StartTls is done: everything learnt before it
    // is to be forgotten.
    virtual void OnEncrypted() {}
    // Bytes are at InputData(): consume what makes a complete reply, and
    // stop after a reply that posted events (or when more bytes are needed).
    virtual void OnInput() = 0;
    // The socket took bytes off its write buffer.
    virtual void OnWritten() {}
    // The server closed the connection, or said it is closing it, while the
    // session was open. True when the engine has dealt with that (an idle
    // session it opens again); else the connection is lost.
    virtual bool OnIdleEnd() { return false; }
    // The session ends (a failure, or Quit): running work is abandoned.
    // `quitting`: by Quit, so the work's own TransferAborted error is due
    // before its end event.
    virtual void AbandonWork(bool quitting) = 0;
    // A new session starts: forget everything of the last one.
    virtual void ResetSession() = 0;

    // Ends the session after a failure: socket closed, state 6 internally,
    // then OnError, the end of running work and the state-6 event.
    void Fail(InetError number, const QString &description, const QStringList &serverLines = {});
    // Closes the connection (after QUIT's reply, or at once) and raises
    // state 6.
    void FinishDisconnect();
    // The part of Quit both protocols share: a connection still being made
    // is abandoned, running work ends, state 5 is reported, and with
    // closeAtOnce the connection closes without QUIT. True when the caller
    // should now send its QUIT and await the reply for at most QuitWaitMs.
    bool BeginQuit(bool closeAtOnce);
    // A server that does not answer QUIT is not waited for long: the session
    // is over either way.
    static constexpr int QuitWaitMs = 5000;

    // The server agreed to STARTTLS / STLS: the handshake starts now. Bytes
    // the server sent after its reply are dropped unread, since they came
    // in clear and an attacker may have put them there to be taken as
    // answers on the encrypted connection. A failed handshake or certificate
    // ends the session with TlsFailed / CertificateRejected; nothing further
    // is sent.
    void StartTls();
    bool Encrypted() const { return m_tls == Tls::On; }
    // Traffic to a loopback address never leaves the machine.
    bool PeerIsLoopback() const;
    // "host:port", the key of what is remembered about this server.
    QString ServerKey() const;
    // The server offers STARTTLS / STLS: remembered, so that a session
    // without the offer later is refused (someone removed it).
    void NoteEncryptionOffered();
    // True (with the reason in *why) when this connection must not go on in
    // clear: the server offered encryption before, or it is submissionPort
    // (above 0) on another host.
    bool MustEncrypt(QString *why, quint16 submissionPort = 0) const;
    // Opens the last session's connection again (after the server closed an
    // idle one).
    void Reopen();

    void Write(const QByteArray &bytes);
    // Hands what is written to the kernel now rather than from the event
    // loop: when the window closes both sessions, their QUITs leave in the
    // order they were given.
    void FlushOutput();
    qint64 BytesToWrite() const;
    // The silence timer runs while the engine waits for the server; called
    // again while waiting, the server showed life and the clock restarts.
    // A wait (from the first call with true to one with false) also has an
    // overall deadline: Timeout, plus a second for every kSlowestRate
    // octets received or taken by the socket meanwhile, plus time the
    // program itself held things up. A server that trickles a byte now and
    // then no longer keeps a command open for ever, while a slow but honest
    // link still moves a large message.
    void WaitForServer(bool waiting, int milliseconds = -1);
    // The slowest transfer the deadline allows for, in octets a second:
    // about a fifth of what a 9600 bit/s dial-up link moves, so that only a
    // server that trickles on purpose runs into it.
    static constexpr qint64 kSlowestRate = 256;

    QByteArrayView InputData() const;
    void Consume(qsizetype count);

    QHostAddress LocalAddress() const;
    QString PeerText() const { return m_peerText; }

    SessionListener *m_listener;
    ConnState m_state = ConnState::Disconnected;
    ConnState m_reportedState = ConnState::Disconnected;

private slots:
    void HostLookedUp(const QHostInfo &info);
    void SocketConnected();
    void SocketEncrypted();
    void SocketEncryptedWritten(qint64 bytes);
    void SocketSslErrors(const QList<QSslError> &errors);
    void SocketReadyRead();
    void SocketBytesWritten(qint64 bytes);
    void SocketError(const QPointer<QTcpSocket> &socket);
    void SocketDisconnected(const QPointer<QTcpSocket> &socket);
    void TimerFired();

private:
    void Deliver();
    void ScheduleDelivery();
    // A new phase (lookup, an address, a TLS handshake, the greeting) has a
    // deadline of its own.
    void RestartWait();
    qint64 DeadlineLeftMs() const;
    void TryNextAddress();
    void DropSocket();
    // Reads and processes what the socket holds, one step at a time and a
    // short time slice at a time (the rest follows from the event loop), so
    // a fast server cannot freeze the window for a whole message.
    void DrainInput();
    void ScheduleDrain();
    void ConnectionEnded(const QString &detail);
    void EndConnection();
    void HandshakeFailed(const QString &detail);
    bool CertificateTrusted(const QList<QSslError> &errors);
    void AskAboutCertificate(const QList<QSslError> &errors, const CertificateQuestion &question);
    void CertificateAnswered(const QPointer<QSslSocket> &socket, const QList<QSslError> &errors,
                             const CertificateQuestion &question, bool trusted);

    enum class Tls { Off, Handshaking, On };

    quint16 m_implicitTlsPort;
    int m_timeoutMs = 60000;
    QSslSocket *m_socket = nullptr;
    Tls m_tls = Tls::Off;
    bool m_ackPromptly = false;
    QString m_verifyName;              // the name the certificate must carry
    QStringList m_certificateProblems; // reason first, then the details
    CertificateDecider *m_decider = nullptr;
    QString m_openHost; // Open's arguments, for Reopen
    int m_openDefaultPort = 0;
    int m_openExplicitPort = 0;
    QTimer m_timer;
    // The wait's overall deadline (see WaitForServer): when it began, the
    // octets moved since, and the time granted for our own delays.
    QElapsedTimer m_waitClock;
    qint64 m_waitBytes = 0;
    qint64 m_waitGraceMs = 0;
    bool m_deadlineBinds = false; // the timer runs to the deadline, not to silence
    int m_lookupId = -1;
    QList<QHostAddress> m_addresses;
    QStringList m_connectErrors;
    quint16 m_port = 0;
    bool m_connected = false;
    QString m_peerText;
    QByteArray m_in;
    qsizetype m_inPos = 0;

    struct Posted {
        std::function<void()> raise;
        quint64 tag;
        Kind kind;
    };
    std::deque<Posted> m_outbox;
    int m_news = 0; // posted events that are not progress
    int m_stepDepth = 0;
    bool m_delivering = false;
    bool m_deliveryScheduled = false;
    bool m_inputWaiting = false; // bytes came while events were being raised
    QString m_pendingEnd;        // the connection ended; why, once its input is read
    bool m_drainScheduled = false;
};
