#include "inetsession.h"
#include "hostport.h"
#include "tlserrors.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QSslSocket>

#include <utility>

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {
// How much the socket may hold unread while an event handler runs a nested
// loop: beyond it Qt stops reading from the kernel, so a fast server cannot
// make us buffer a whole message behind a modal box.
constexpr qint64 kSocketReadBuffer = 1024 * 1024;
// Largest single read handed to the engine.
constexpr qint64 kReadChunk = 256 * 1024;
// Longest stretch of input processing before the event loop gets its turn:
// the window must keep painting and answering while a large message pours in.
constexpr qint64 kInputSliceMs = 5;

// A socket may be dropped from inside its own signal (a handler quits, or
// the window goes, during a nested loop). Qt still touches the socket after
// our slot returns, and deleteLater may run inside a nested loop, so dropped
// sockets wait here until no socket slot of ours is on the stack.
int g_socketSlotDepth = 0;

struct SocketSlotScope {
    SocketSlotScope() { ++g_socketSlotDepth; }
    ~SocketSlotScope() { --g_socketSlotDepth; }
};

QList<QTcpSocket *> &Graveyard()
{
    static QList<QTcpSocket *> sockets;
    return sockets;
}

void Reap()
{
    if (g_socketSlotDepth > 0) {
        QTimer::singleShot(10, QCoreApplication::instance(), Reap);
        return;
    }
    const QList<QTcpSocket *> sockets = std::exchange(Graveyard(), {});
    qDeleteAll(sockets);
}

void Bury(QTcpSocket *socket)
{
    socket->setParent(nullptr);
    if (!QCoreApplication::instance()) {
        delete socket;
        return;
    }
    // Sockets still waiting when the application object goes are freed then,
    // while Qt can still tear them down.
    static const bool buryAtExit = (qAddPostRoutine([] { qDeleteAll(std::exchange(Graveyard(), {})); }), true);
    (void)buryAtExit;
    if (Graveyard().isEmpty())
        QTimer::singleShot(0, QCoreApplication::instance(), Reap);
    Graveyard().append(socket);
}
} // namespace

InetSession::InetSession(SessionEvents *events, quint16 implicitTlsPort, QObject *parent)
    : QObject(parent), m_events(events), m_implicitTlsPort(implicitTlsPort)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &InetSession::TimerFired);
}

InetSession::~InetSession()
{
    // The window closes right after Quit: hand the QUIT to the kernel before
    // the socket goes, so that the server still sees a clean goodbye.
    if (m_socket && m_state == ConnState::Disconnecting)
        m_socket->flush();
    Shutdown();
}

void InetSession::SetTimeoutSeconds(int seconds)
{
    m_timeoutMs = qBound(1, seconds, 3600) * 1000;
}

void InetSession::Open(const QString &remoteHost, int defaultPort, int explicitPort)
{
    Shutdown();
    ResetSession();
    ++m_generation;
    m_in.clear();
    m_inPos = 0;
    m_connectErrors.clear();
    m_addresses.clear();

    HostPort where = ParseHostPort(remoteHost, quint16(qBound(0, defaultPort, 65535)));
    if (explicitPort > 0 && explicitPort <= 65535)
        where.port = quint16(explicitPort);
    if (where.ok && where.port == 0) {
        where.ok = false;
        where.error = QStringLiteral("No port to connect to on %1: RemotePort is %2").arg(where.host).arg(defaultPort);
    }
    m_port = where.port;
    m_verifyName = where.host;
    m_peerText = where.host.contains(QLatin1Char(':'))
                     ? QStringLiteral("[%1]:%2").arg(where.host).arg(where.port)
                     : QStringLiteral("%1:%2").arg(where.host).arg(where.port);

    if (!RaiseState(ConnState::Connecting))
        return;
    if (!where.ok) {
        Fail(InetError::ConnectFailed, where.error);
        return;
    }
    if (!RaiseState(ConnState::Resolving))
        return;
    WaitForServer(true); // a lookup that never answers is given up like a silent server
    m_lookupId = QHostInfo::lookupHost(where.host, this, &InetSession::HostLookedUp);
}

void InetSession::Shutdown()
{
    DropSocket();
    m_timer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_state = ConnState::Disconnected;
}

bool InetSession::RaiseState(ConnState state)
{
    m_state = state;
    const Guard guard = MakeGuard();
    m_events->SessionStateChanged(state);
    return guard.Holds();
}

void InetSession::Fail(InetError number, const QString &description, const QStringList &serverLines)
{
    Shutdown();
    ++m_generation;
    const bool hadWork = TakeRunningWork();
    const Guard guard = MakeGuard();
    m_events->SessionError(number, description, serverLines);
    if (!guard.Holds())
        return;
    if (hadWork) {
        RaiseWorkAborted();
        if (!guard.Holds())
            return;
    }
    m_events->SessionStateChanged(ConnState::Disconnected);
}

void InetSession::FinishDisconnect()
{
    Shutdown();
    ++m_generation;
    m_events->SessionStateChanged(ConnState::Disconnected);
}

void InetSession::AbortConnecting()
{
    Shutdown();
    ++m_generation;
    if (!RaiseState(ConnState::Disconnecting))
        return;
    FinishDisconnect();
}

void InetSession::Write(const QByteArray &bytes)
{
    if (m_socket)
        m_socket->write(bytes);
}

qint64 InetSession::BytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() : 0;
}

void InetSession::WaitForServer(bool waiting, int milliseconds)
{
    if (waiting)
        m_timer.start(milliseconds > 0 ? qMin(milliseconds, m_timeoutMs) : m_timeoutMs);
    else
        m_timer.stop();
}

QByteArrayView InetSession::InputData() const
{
    return QByteArrayView(m_in).sliced(m_inPos);
}

void InetSession::Consume(qsizetype count)
{
    m_inPos = qMin(m_inPos + count, m_in.size());
}

QHostAddress InetSession::LocalAddress() const
{
    return m_socket ? m_socket->localAddress() : QHostAddress();
}

void InetSession::HostLookedUp(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    try {
        m_addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || m_addresses.isEmpty()) {
            Fail(InetError::ConnectFailed,
                 QStringLiteral("Could not resolve host %1").arg(m_peerText),
                 QStringList{info.errorString()});
            return;
        }
        if (!RaiseState(ConnState::Resolved))
            return;
        TryNextAddress();
    } catch (const std::exception &error) {
        Fail(InetError::ConnectFailed, QString::fromUtf8(error.what()));
    }
}

void InetSession::TryNextAddress()
{
    DropSocket();
    if (m_addresses.isEmpty()) {
        Fail(InetError::ConnectFailed, QStringLiteral("Could not connect to %1").arg(m_peerText),
             m_connectErrors);
        return;
    }
    const QHostAddress address = m_addresses.takeFirst();
    m_socket = new QSslSocket(this);
    // The certificate must name the host as the user gave it, not the
    // address it resolved to. Verification uses the system's authorities.
    m_socket->setPeerVerifyName(m_verifyName);
    m_tls = Tls::Off;
    m_ackPromptly = false;
    m_certificateProblems.clear();
    // Mail traffic never goes through a proxy set in the environment.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setReadBufferSize(kSocketReadBuffer);
    connect(m_socket, &QTcpSocket::connected, this, &InetSession::SocketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &InetSession::SocketReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &InetSession::SocketBytesWritten);
    // Encrypted, the socket reports written plain text when it is encrypted
    // and the TLS records as the kernel takes them; back-pressure needs both.
    connect(m_socket, &QSslSocket::encryptedBytesWritten, this, &InetSession::SocketEncryptedWritten);
    connect(m_socket, &QSslSocket::encrypted, this, &InetSession::SocketEncrypted);
    connect(m_socket, &QSslSocket::sslErrors, this, &InetSession::SocketSslErrors);
    // Queued: a socket may report an error from inside connectToHost, and
    // the next attempt must not start inside the last one.
    // The socket travels as a guarded pointer: by the time a queued call
    // runs, the socket may have been dropped.
    const QPointer<QTcpSocket> socket(m_socket);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this, socket] { SocketError(socket); }, Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::disconnected, this, [this, socket] { SocketDisconnected(socket); },
            Qt::QueuedConnection);
    WaitForServer(true);
    m_socket->connectToHost(address, m_port);
}

void InetSession::DropSocket()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    Bury(socket);
    m_connected = false;
    m_tls = Tls::Off;
}

void InetSession::SocketConnected()
{
    const SocketSlotScope scope;
    if (sender() != m_socket)
        return;
    m_connected = true;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    try {
        if (m_port == m_implicitTlsPort) {
            // TLS from the first byte: the engine starts once it is up.
            m_tls = Tls::Handshaking;
            WaitForServer(true);
            m_socket->startClientEncryption();
            return;
        }
        OnConnected();
    } catch (const std::exception &error) {
        Fail(InetError::ProtocolError, QString::fromUtf8(error.what()));
    }
}

void InetSession::StartTls()
{
    if (!m_socket || m_tls != Tls::Off)
        return;
    m_in.clear();
    m_inPos = 0;
    m_socket->readAll();
    m_tls = Tls::Handshaking;
    WaitForServer(true);
    m_socket->startClientEncryption();
}

void InetSession::SocketEncrypted()
{
    const SocketSlotScope scope;
    if (sender() != m_socket)
        return;
    const bool implicit = m_port == m_implicitTlsPort;
    m_tls = Tls::On;
    m_ackPromptly = true;
    try {
        if (implicit)
            OnConnected();
        else
            OnEncrypted();
    } catch (const std::exception &error) {
        Fail(InetError::ProtocolError, QString::fromUtf8(error.what()));
    }
}

void InetSession::SocketEncryptedWritten()
{
    if (m_ackPromptly && sender() == m_socket) {
        // A TLS 1.3 server sends its session tickets after our Finished and
        // then its first answer; with Nagle on its side that answer waits
        // until the tickets are acknowledged, and a delayed ACK from us
        // costs ~40 ms per connection. Asked once our last handshake bytes
        // have gone out, the kernel acknowledges what comes next at once.
        m_ackPromptly = false;
#ifdef TCP_QUICKACK
        const int one = 1;
        ::setsockopt(int(m_socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
    }
    SocketBytesWritten();
}

void InetSession::SocketSslErrors(const QList<QSslError> &errors)
{
    const SocketSlotScope scope;
    if (sender() != m_socket)
        return;
    // Not ignored, so the socket fails the handshake next; the session ends
    // in the (queued) error that follows, with these words.
    const CertificateVerdict verdict = DescribeCertificateErrors(errors, m_verifyName);
    m_certificateProblems = QStringList{verdict.reason} + verdict.details;
}

void InetSession::HandshakeFailed(const QString &detail)
{
    if (!m_certificateProblems.isEmpty()) {
        const QStringList problems = m_certificateProblems;
        Fail(InetError::CertificateRejected,
             QStringLiteral("The certificate of %1 was not accepted: %2").arg(m_peerText, problems.first()),
             problems.mid(1));
        return;
    }
    Fail(InetError::TlsFailed, QStringLiteral("Could not make an encrypted connection to %1").arg(m_peerText),
         QStringList{detail});
}

void InetSession::SocketReadyRead()
{
    const SocketSlotScope scope;
    if (sender() != m_socket)
        return;
    DrainInput();
}

bool InetSession::BeginQuit(bool closeAtOnce)
{
    switch (m_state) {
    case ConnState::Disconnected:
    case ConnState::Disconnecting:
        return false;
    case ConnState::Connecting:
    case ConnState::Resolving:
    case ConnState::Resolved:
        AbortConnecting();
        return false;
    case ConnState::Connected:
        break;
    }
    const Guard guard = MakeGuard();
    m_state = ConnState::Disconnecting;
    if (TakeRunningWork()) {
        // A document cut short is a failure, told before its end: an
        // unfinished message must never read as sent.
        m_events->SessionError(InetError::TransferAborted, AbortedWorkText(), {});
        if (!guard.Holds())
            return false;
        RaiseWorkAborted();
        if (!guard.Holds())
            return false;
    }
    if (!RaiseState(ConnState::Disconnecting))
        return false;
    if (closeAtOnce) {
        FinishDisconnect();
        return false;
    }
    return true;
}

void InetSession::ScheduleDrain()
{
    if (m_drainScheduled)
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(this, [this] {
        m_drainScheduled = false;
        DrainInput();
    }, Qt::QueuedConnection);
}

void InetSession::DrainInput(bool all)
{
    // Events raised while processing may run nested loops; a socket does not
    // re-emit readyRead meanwhile, so this loop reads until nothing is left,
    // and a call that arrives during processing only asks for one more round.
    if (m_inInput) {
        m_inputAgain = true;
        return;
    }
    const Guard guard = MakeGuard();
    m_inInput = true;
    QElapsedTimer slice;
    slice.start();
    try {
        do {
            m_inputAgain = false;
            while (m_socket && m_socket->bytesAvailable() > 0) {
                if (!all && slice.elapsed() >= kInputSliceMs) {
                    // The rest comes in a later pass; readyRead will not
                    // announce bytes that are already waiting.
                    ScheduleDrain();
                    m_inInput = false;
                    return;
                }
                if (m_inPos > 0) {
                    m_in.remove(0, m_inPos); // only the unconsumed tail moves
                    m_inPos = 0;
                }
                const qsizetype old = m_in.size();
                const qint64 want = qMin(m_socket->bytesAvailable(), kReadChunk);
                m_in.resize(old + want);
                const qint64 got = m_socket->read(m_in.data() + old, want);
                m_in.resize(old + qMax<qint64>(got, 0));
                if (got <= 0)
                    break;
                OnInput();
                if (!guard.session)
                    return;
                if (!guard.Holds()) {
                    m_inInput = false;
                    return;
                }
            }
            if (m_inputAgain && InputData().size() > 0) {
                OnInput();
                if (!guard.session)
                    return;
                if (!guard.Holds()) {
                    m_inInput = false;
                    return;
                }
            }
        } while (m_inputAgain);
    } catch (const std::exception &error) {
        if (!guard.session)
            return;
        m_inInput = false;
        Fail(InetError::ProtocolError, QString::fromUtf8(error.what()));
        return;
    }
    m_inInput = false;
}

void InetSession::SocketBytesWritten()
{
    const SocketSlotScope scope;
    if (sender() != m_socket)
        return;
    try {
        if (WaitingForServer())
            WaitForServer(true); // progress: the silence clock starts again
        OnWritten();
    } catch (const std::exception &error) {
        Fail(InetError::ProtocolError, QString::fromUtf8(error.what()));
    }
}

void InetSession::SocketError(const QPointer<QTcpSocket> &socket)
{
    const SocketSlotScope scope;
    if (!socket || socket != m_socket)
        return;
    const QString text = socket->errorString();
    if (m_tls == Tls::Handshaking) {
        HandshakeFailed(text);
        return;
    }
    if (socket->state() != QAbstractSocket::ConnectedState && m_state != ConnState::Connected
        && m_state != ConnState::Disconnecting && !m_connected) {
        // This address did not take the connection: try the next one.
        m_connectErrors.append(QStringLiteral("%1: %2").arg(m_peerText, text));
        TryNextAddress();
        return;
    }
    ConnectionEnded(text);
}

void InetSession::SocketDisconnected(const QPointer<QTcpSocket> &socket)
{
    const SocketSlotScope scope;
    if (!socket || socket != m_socket)
        return;
    ConnectionEnded(QStringLiteral("The server closed the connection"));
}

void InetSession::ConnectionEnded(const QString &detail)
{
    // What the server said before it closed still counts (a 421, a QUIT
    // reply, the end of a message).
    if (m_tls == Tls::Handshaking && m_state != ConnState::Disconnecting) {
        HandshakeFailed(detail);
        return;
    }
    const Guard guard = MakeGuard();
    DrainInput(true);
    if (!guard.Holds())
        return;
    if (m_state == ConnState::Disconnecting) {
        OnClosedWhileQuitting();
        if (guard.Holds())
            FinishDisconnect();
        return;
    }
    Fail(InetError::ConnectionLost, QStringLiteral("Connection to %1 lost").arg(m_peerText),
         QStringList{detail});
}

void InetSession::TimerFired()
{
    try {
        // Silence is the server's only when it has nothing waiting for us and
        // we are not the ones holding the transfer (a handler showing a
        // modal box in the middle of our processing).
        if (m_socket && m_socket->bytesAvailable() > 0) {
            WaitForServer(true);
            if (!m_inInput)
                DrainInput();
            return;
        }
        if (ClientHolding()) {
            WaitForServer(true);
            return;
        }
        if (m_state == ConnState::Disconnecting) {
            FinishDisconnect(); // a server that never answers QUIT is simply left
            return;
        }
        const InetError number = (m_state == ConnState::Resolving || (m_state == ConnState::Resolved && !m_connected))
                                     ? InetError::ConnectFailed
                                     : InetError::Timeout;
        Fail(number, QStringLiteral("No answer from %1 within %2 seconds")
                         .arg(m_peerText)
                         .arg(m_timeoutMs / 1000));
    } catch (...) {
    }
}
