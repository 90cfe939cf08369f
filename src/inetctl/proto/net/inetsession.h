#pragma once
#include "ineterrors.h"
#include "inetstates.h"

#include <QByteArray>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QStringList>
#include <QTimer>

class QSslSocket;
class QTcpSocket;

// What an engine tells its control. The control turns each call into one of
// its events; a call may run a nested event loop and may call back into the
// engine (Quit, a new document), so the engine is consistent before each
// call and re-checks its session after it.
class SessionEvents {
public:
    virtual ~SessionEvents() = default;
    virtual void SessionStateChanged(ConnState state) = 0;
    virtual void SessionError(InetError number, const QString &description,
                              const QStringList &serverLines) = 0;
};

// The connection layer both engines share: RemoteHost parsing, the
// asynchronous lookup (states 2 and 3), trying each address in turn, TLS
// (from the first byte on the implicit-TLS port, or when the engine asks for
// the upgrade), the silence timeout, and a receive buffer read with an offset.
class InetSession : public QObject {
    Q_OBJECT
public:
    // On implicitTlsPort the connection is encrypted before the engine sees
    // a byte.
    InetSession(SessionEvents *events, quint16 implicitTlsPort, QObject *parent = nullptr);
    ~InetSession() override;

    ConnState State() const { return m_state; }
    void SetTimeoutSeconds(int seconds);

    // Starts states 1, 2, 3 and the TCP connection to remoteHost: at its own
    // ":port" if it names one, else at defaultPort; explicitPort (above 0)
    // overrides both. The caller has checked that the session is
    // disconnected.
    void Open(const QString &remoteHost, int defaultPort, int explicitPort);

    // Ends the session at once without a word to the server; no events.
    // Used when the owner goes away.
    void Shutdown();

protected:
    // Identifies one session: every engine call that raises an event keeps a
    // Guard and returns when it no longer holds (the engine was deleted, or
    // the session ended or was replaced from inside the event).
    struct Guard {
        QPointer<InetSession> session;
        quint64 generation;
        bool Holds() const { return session && session->m_generation == generation; }
    };
    Guard MakeGuard() { return Guard{QPointer<InetSession>(this), m_generation}; }

    // The connection is up (and encrypted on the implicit-TLS port); the
    // engine now waits for the greeting.
    virtual void OnConnected() = 0;
    // The upgrade asked for by StartTls is done: everything learnt before it
    // is to be forgotten.
    virtual void OnEncrypted() {}
    // New bytes are at InputData(); consume them with Consume().
    virtual void OnInput() = 0;
    // The socket took bytes off its write buffer.
    virtual void OnWritten() {}
    // A failure or an abort ends the session: forget any running work and
    // say whether a document was running (its end is then raised).
    virtual bool TakeRunningWork() { return false; }
    // Raises the end of the document that TakeRunningWork reported.
    virtual void RaiseWorkAborted() {}
    // What a document ended by Quit did not do, for its TransferAborted error.
    virtual QString AbortedWorkText() const { return QStringLiteral("The transfer was abandoned before its end"); }
    // A new session starts: forget everything of the last one.
    virtual void ResetSession() {}
    // The client, not the server, is holding things up (an event handler
    // runs a nested loop while the engine has more to send).
    virtual bool ClientHolding() const { return false; }
    // The server closed the connection (or it broke) while State() is
    // Disconnecting: an orderly end.
    virtual void OnClosedWhileQuitting() {}

    // Raises a state change; false when the session did not survive it.
    bool RaiseState(ConnState state);
    // Ends the session after a failure: socket closed, state 6 internally,
    // OnError, the end of a running document, then the state-6 event.
    void Fail(InetError number, const QString &description,
              const QStringList &serverLines = QStringList());
    // Closes the connection (after QUIT's reply, or at once) and raises
    // state 6.
    void FinishDisconnect();
    // The part of Quit both protocols share: a connection still being made
    // is abandoned, running work ends, state 5 is reported, and with
    // closeAtOnce the connection closes without QUIT. True when the caller
    // should now send its QUIT and await the reply for at most QuitWaitMs.
    bool BeginQuit(bool closeAtOnce);
    static constexpr int QuitWaitMs = 5000;
    // Quit while the connection is still being made: 5, then 6.
    void AbortConnecting();

    // The server agreed to STARTTLS / STLS: the handshake starts now. Bytes
    // the server sent after its reply are dropped unread, since they came
    // in clear and an attacker may have put them there to be taken as
    // answers on the encrypted connection. A failed handshake or certificate
    // ends the session with TlsFailed / CertificateRejected; nothing further
    // is sent.
    void StartTls();
    bool Encrypted() const { return m_tls == Tls::On; }

    void Write(const QByteArray &bytes);
    qint64 BytesToWrite() const;
    // The silence timer runs while the engine waits for the server.
    void WaitForServer(bool waiting, int milliseconds = -1);
    bool WaitingForServer() const { return m_timer.isActive(); }

    QByteArrayView InputData() const;
    void Consume(qsizetype count);

    QHostAddress LocalAddress() const;
    QString PeerText() const { return m_peerText; }

    SessionEvents *m_events;
    ConnState m_state = ConnState::Disconnected;
    quint64 m_generation = 0;

private slots:
    void HostLookedUp(const QHostInfo &info);
    void SocketConnected();
    void SocketEncrypted();
    void SocketEncryptedWritten();
    void SocketSslErrors(const QList<QSslError> &errors);
    void SocketReadyRead();
    void SocketBytesWritten();
    void SocketError(const QPointer<QTcpSocket> &socket);
    void SocketDisconnected(const QPointer<QTcpSocket> &socket);
    void TimerFired();

private:
    void TryNextAddress();
    void DropSocket();
    // Reads and processes what the socket holds. Unless `all` is set, a
    // pass ends after a short time slice and the rest follows from the event
    // loop, so a fast server cannot freeze the window for a whole message.
    void DrainInput(bool all = false);
    void ScheduleDrain();
    void ConnectionEnded(const QString &detail);
    void HandshakeFailed(const QString &detail);

    enum class Tls { Off, Handshaking, On };

    quint16 m_implicitTlsPort;
    int m_timeoutMs = 60000;
    QSslSocket *m_socket = nullptr;
    Tls m_tls = Tls::Off;
    bool m_ackPromptly = false;
    QString m_verifyName;              // the name the certificate must carry
    QStringList m_certificateProblems; // reason first, then the details
    QTimer m_timer;
    int m_lookupId = -1;
    QList<QHostAddress> m_addresses;
    QStringList m_connectErrors;
    quint16 m_port = 0;
    bool m_connected = false;
    QString m_peerText;
    QByteArray m_in;
    qsizetype m_inPos = 0;
    bool m_inInput = false;
    bool m_inputAgain = false;
    bool m_drainScheduled = false;
};
