#include "inetsession.h"
#include "hostport.h"
#include "tlserrors.h"
#include "certquestion.h"
#include "userstore.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QSslSocket>

#include <algorithm>
#include <utility>

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {
// How much the socket may hold unread while events are being raised:
// beyond it Qt stops reading from the kernel, so a fast server cannot make
// us buffer a whole message behind a modal box.
constexpr qint64 kSocketReadBuffer = 1024 * 1024;
// Largest single read handed to the engine.
constexpr qint64 kReadChunk = 256 * 1024;
// Longest stretch of input processing, or of raising events, before the
// event loop gets its turn: the window must keep painting and answering
// while a large message pours in.
constexpr qint64 kInputSliceMs = 5;
} // namespace

InetSession::Step::Step(InetSession *session, bool raiseAtOnce) : m_session(session), m_raiseAtOnce(raiseAtOnce)
{
    ++m_session->m_stepDepth;
}

InetSession::Step::~Step()
{
    if (--m_session->m_stepDepth > 0)
        return;
    // Raised at once where no socket's signal is on the stack (a call from
    // the owner, input read from the event loop); else from the event loop,
    // since a handler may drop that very socket.
    if (m_raiseAtOnce)
        m_session->Deliver();
    else if (!m_session->m_outbox.empty())
        m_session->ScheduleDelivery();
}

InetSession::InetSession(SessionListener *listener, quint16 implicitTlsPort, QObject *parent)
    : QObject(parent), m_listener(listener), m_implicitTlsPort(implicitTlsPort)
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

void InetSession::Post(std::function<void()> event, quint64 tag, Kind kind)
{
    m_news += kind == Kind::News;
    m_outbox.push_back({std::move(event), tag, kind});
}

void InetSession::Withdraw(quint64 tag)
{
    std::erase_if(m_outbox, [this, tag](const Posted &posted) {
        const bool drop = posted.tag == tag;
        m_news -= drop && posted.kind == Kind::News;
        return drop;
    });
}

void InetSession::PostState(ConnState state)
{
    m_state = state;
    Post([this, state] {
        m_reportedState = state;
        m_listener->SessionStateChanged(state);
    });
}

void InetSession::PostError(InetError number, const QString &description, const QStringList &serverLines)
{
    Post([this, failure = SessionFailure{number, description, serverLines}] { m_listener->SessionError(failure); });
}

void InetSession::Deliver()
{
    if (m_delivering || m_stepDepth > 0)
        return; // the delivery already under way raises what was added
    m_delivering = true;
    const QPointer<InetSession> alive(this);
    QElapsedTimer slice;
    slice.start();
    while (!m_outbox.empty()) {
        if (slice.elapsed() >= kInputSliceMs) {
            // The window paints between turns; the rest is raised next.
            m_delivering = false;
            ScheduleDelivery();
            return;
        }
        const std::function<void()> event = std::move(m_outbox.front().raise);
        m_news -= m_outbox.front().kind == Kind::News;
        m_outbox.pop_front();
        event();
        if (!alive)
            return; // a handler had the owner deleted
    }
    m_delivering = false;
    if (m_inputWaiting) {
        m_inputWaiting = false;
        ScheduleDrain();
    }
}

void InetSession::ScheduleDelivery()
{
    if (m_deliveryScheduled)
        return;
    m_deliveryScheduled = true;
    QMetaObject::invokeMethod(this, [this] {
        m_deliveryScheduled = false;
        Deliver();
    }, Qt::QueuedConnection);
}

void InetSession::Open(const QString &remoteHost, int defaultPort, int explicitPort)
{
    const Step step(this);
    Shutdown();
    ResetSession();
    m_openHost = remoteHost;
    m_openDefaultPort = defaultPort;
    m_openExplicitPort = explicitPort;
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

    PostState(ConnState::Connecting);
    if (!where.ok) {
        Fail(InetError::ConnectFailed, where.error);
        return;
    }
    PostState(ConnState::Resolving);
    RestartWait(); // a lookup that never answers is given up like a silent server
    m_lookupId = QHostInfo::lookupHost(where.host, this, &InetSession::HostLookedUp);
}

void InetSession::Reopen()
{
    Open(m_openHost, m_openDefaultPort, m_openExplicitPort);
}

bool InetSession::PeerIsLoopback() const
{
    return m_socket && m_socket->peerAddress().isLoopback();
}

QString InetSession::ServerKey() const
{
    return UserStore::ServerKey(m_verifyName, m_port);
}

void InetSession::NoteEncryptionOffered()
{
    QString error;
    if (!UserStore::NoteEncryptionOffered(ServerKey(), &error))
        qWarning("Could not remember that %s offers encryption: %s", qPrintable(m_peerText), qPrintable(error));
}

bool InetSession::MustEncrypt(QString *why, quint16 submissionPort) const
{
    const QString tail = QStringLiteral("someone may be interfering with the connection. No password or message "
                                        "was sent");
    if (UserStore::OfferedEncryption(ServerKey())) {
        *why = QStringLiteral("%1 offered encryption before and no longer does: %2").arg(m_peerText, tail);
        return true;
    }
    if (submissionPort > 0 && m_port == submissionPort && !PeerIsLoopback()) {
        *why = QStringLiteral("%1 offers no encryption on the mail submission port: %2").arg(m_peerText, tail);
        return true;
    }
    return false;
}

void InetSession::Shutdown()
{
    DropSocket();
    WaitForServer(false);
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_in.clear();
    m_inPos = 0;
    m_pendingEnd.clear();
    m_state = ConnState::Disconnected;
}

void InetSession::Fail(InetError number, const QString &description, const QStringList &serverLines)
{
    Shutdown();
    PostError(number, description, serverLines);
    AbandonWork(false);
    PostState(ConnState::Disconnected);
}

void InetSession::FinishDisconnect()
{
    Shutdown();
    PostState(ConnState::Disconnected);
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
        // Quit while the connection is still being made: 5, then 6.
        Shutdown();
        PostState(ConnState::Disconnecting);
        FinishDisconnect();
        return false;
    case ConnState::Connected:
        break;
    }
    m_state = ConnState::Disconnecting;
    AbandonWork(true);
    PostState(ConnState::Disconnecting);
    if (closeAtOnce) {
        FinishDisconnect();
        return false;
    }
    return true;
}

void InetSession::Write(const QByteArray &bytes)
{
    if (m_socket)
        m_socket->write(bytes);
}

void InetSession::FlushOutput()
{
    if (m_socket)
        m_socket->flush();
}

qint64 InetSession::BytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() : 0;
}

void InetSession::WaitForServer(bool waiting, int milliseconds)
{
    if (!waiting) {
        m_timer.stop();
        m_waitClock.invalidate();
        return;
    }
    if (!m_waitClock.isValid()) {
        m_waitClock.start();
        m_waitBytes = 0;
        m_waitGraceMs = 0;
    }
    const qint64 silence = milliseconds > 0 ? qMin(milliseconds, m_timeoutMs) : m_timeoutMs;
    const qint64 left = DeadlineLeftMs();
    m_deadlineBinds = left < silence;
    m_timer.start(int(qBound<qint64>(0, left, silence)));
}

void InetSession::RestartWait()
{
    m_waitClock.invalidate();
    WaitForServer(true);
}

qint64 InetSession::DeadlineLeftMs() const
{
    return m_timeoutMs + m_waitBytes * 1000 / kSlowestRate + m_waitGraceMs - m_waitClock.elapsed();
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
    const Step step(this, false);
    m_lookupId = -1;
    m_addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || m_addresses.isEmpty()) {
        Fail(InetError::ConnectFailed, QStringLiteral("Could not resolve host %1").arg(m_peerText),
             QStringList{info.errorString()});
        return;
    }
    PostState(ConnState::Resolved);
    TryNextAddress();
}

void InetSession::TryNextAddress()
{
    DropSocket();
    if (m_addresses.isEmpty()) {
        Fail(InetError::ConnectFailed, QStringLiteral("Could not connect to %1").arg(m_peerText), m_connectErrors);
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
    // the next attempt must not start inside the last one. The socket
    // travels as a guarded pointer: it may have been dropped by then.
    const QPointer<QTcpSocket> socket(m_socket);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this, socket] { SocketError(socket); }, Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::disconnected, this, [this, socket] { SocketDisconnected(socket); },
            Qt::QueuedConnection);
    RestartWait();
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
    // Later, not now: we may be inside one of its signals. It stays our
    // child, so it goes with us at the latest.
    socket->deleteLater();
    m_connected = false;
    m_tls = Tls::Off;
}

void InetSession::SocketConnected()
{
    if (sender() != m_socket)
        return;
    const Step step(this, false);
    m_connected = true;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_port == m_implicitTlsPort) {
        // TLS from the first byte: the engine starts once it is up.
        m_tls = Tls::Handshaking;
        RestartWait();
        m_socket->startClientEncryption();
        return;
    }
    m_waitClock.invalidate(); // the greeting's wait is a new one
    OnConnected();
}

void InetSession::StartTls()
{
    if (!m_socket || m_tls != Tls::Off)
        return;
    m_in.clear();
    m_inPos = 0;
    m_socket->readAll();
    m_tls = Tls::Handshaking;
    RestartWait();
    m_socket->startClientEncryption();
}

void InetSession::SocketEncrypted()
{
    if (sender() != m_socket)
        return;
    const Step step(this, false);
    const bool implicit = m_port == m_implicitTlsPort;
    m_tls = Tls::On;
    m_ackPromptly = true;
    m_waitClock.invalidate(); // what the engine awaits next is a new wait
    if (implicit)
        OnConnected();
    else
        OnEncrypted();
}

void InetSession::SocketEncryptedWritten(qint64 bytes)
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
    // Encrypted, these are the octets the kernel took.
    if (sender() == m_socket)
        m_waitBytes += bytes;
    SocketBytesWritten(0);
}

void InetSession::SocketSslErrors(const QList<QSslError> &errors)
{
    if (sender() != m_socket)
        return;
    // Unless trusted here, the socket fails the handshake next; the session
    // ends in the (queued) error that follows, with these words.
    const CertificateVerdict verdict = DescribeCertificateErrors(errors, m_verifyName);
    m_certificateProblems = QStringList{verdict.reason} + verdict.details;
    // Only a certificate nobody vouches for is the user's to judge; an
    // expired one or one for another host stays refused.
    if (!std::all_of(errors.cbegin(), errors.cend(), [](const QSslError &e) { return IsUnvouched(e.error()); }))
        return;
    const QString server = ServerKey();
    const QSslCertificate certificate = m_socket->peerCertificate();
    const QString trusted = UserStore::TrustedFingerprint(server);
    const CertificateQuestion question = AskAbout(server, certificate, verdict.reason, trusted);
    if (!trusted.isEmpty() && SameFingerprint(trusted, question.fingerprint)) {
        m_socket->ignoreSslErrors(errors); // the user trusted this very certificate before
        return;
    }
    if (question.changed)
        m_certificateProblems.prepend(
            QStringLiteral("Certificate has changed since it was trusted (now %1, trusted %2)")
                .arg(question.fingerprint, trusted));
    if (m_decider)
        AskAboutCertificate(errors, question);
}

void InetSession::AskAboutCertificate(const QList<QSslError> &errors, const CertificateQuestion &question)
{
    // The handshake waits, paused, while the user decides; the question is
    // put from the event loop, never inside the socket's signal, and the
    // user's thinking time is not the server's silence.
    const Step step(this, false);
    m_socket->setPauseMode(QAbstractSocket::PauseOnSslErrors);
    WaitForServer(false);
    const QPointer<InetSession> alive(this);
    const QPointer<QSslSocket> socket(m_socket);
    Post([this, alive, socket, errors, question] {
        const bool trusted = m_decider && m_decider->TrustCertificate(question);
        if (alive)
            CertificateAnswered(socket, errors, question, trusted);
    });
}

void InetSession::CertificateAnswered(const QPointer<QSslSocket> &socket, const QList<QSslError> &errors,
                                      const CertificateQuestion &question, bool trusted)
{
    if (!socket || socket != m_socket || m_tls != Tls::Handshaking)
        return; // the session ended while the user was deciding
    const Step step(this);
    if (!trusted) {
        const QStringList problems = m_certificateProblems;
        Fail(InetError::CertificateRejected,
             QStringLiteral("The certificate of %1 was not accepted: %2").arg(m_peerText, problems.first()),
             problems.mid(1));
        return;
    }
    QString error;
    if (!UserStore::TrustCertificate(question.server, question.fingerprint, &error))
        qWarning("Could not store the trusted certificate of %s: %s", qPrintable(m_peerText), qPrintable(error));
    m_socket->setPauseMode(QAbstractSocket::PauseNever);
    m_socket->ignoreSslErrors(errors);
    RestartWait();
    m_socket->resume();
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
    if (sender() != m_socket)
        return;
    // Read from the event loop, where events can be raised as each reply
    // is read: no handler runs inside the socket's own signal.
    ScheduleDrain();
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

void InetSession::DrainInput()
{
    if (m_delivering) {
        m_inputWaiting = true; // read once the handlers are done
        return;
    }
    if (m_stepDepth > 0) {
        ScheduleDrain();
        return;
    }
    const QPointer<InetSession> alive(this);
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        if (!InputData().isEmpty()) {
            // One step: what the replies set off is raised when it ends,
            // before the next reply is read.
            const qsizetype before = InputData().size();
            {
                const Step step(this);
                OnInput();
            }
            if (!alive)
                return; // a handler had the owner deleted
            if (m_delivering || EventsWaiting()) {
                m_inputWaiting = true; // a handler still runs, or events wait their turn
                return;
            }
            if (!InputData().isEmpty() && InputData().size() < before)
                continue; // the next reply is already here
        }
        if (!m_socket || m_socket->bytesAvailable() <= 0)
            break;
        if (slice.elapsed() >= kInputSliceMs) {
            // The rest comes in a later pass; readyRead will not announce
            // bytes that are already waiting.
            ScheduleDrain();
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
        m_waitBytes += got;
    }
    if (!m_pendingEnd.isNull()) {
        const Step step(this);
        EndConnection();
    }
}

void InetSession::SocketBytesWritten(qint64 bytes)
{
    if (sender() != m_socket)
        return;
    const Step step(this, false);
    if (m_tls == Tls::Off)
        m_waitBytes += bytes; // in clear, what the kernel took
    if (m_timer.isActive())
        WaitForServer(true); // progress: the silence clock starts again
    OnWritten();
}

void InetSession::SocketError(const QPointer<QTcpSocket> &socket)
{
    if (!socket || socket != m_socket)
        return;
    const Step step(this, false);
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
    if (!socket || socket != m_socket)
        return;
    const Step step(this, false);
    ConnectionEnded(QStringLiteral("The server closed the connection"));
}

void InetSession::ConnectionEnded(const QString &detail)
{
    if (m_tls == Tls::Handshaking && m_state != ConnState::Disconnecting) {
        HandshakeFailed(detail);
        return;
    }
    // What the server said before it closed still counts (a 421, a QUIT
    // reply, the end of a message): the end follows once all of it is read.
    m_pendingEnd = detail;
    ScheduleDrain();
}

void InetSession::EndConnection()
{
    const QString detail = std::exchange(m_pendingEnd, QString());
    if (m_state == ConnState::Disconnecting)
        FinishDisconnect();
    else if (m_state == ConnState::Connected && OnIdleEnd())
        return;
    else if (m_state != ConnState::Disconnected)
        Fail(InetError::ConnectionLost, QStringLiteral("Connection to %1 lost").arg(m_peerText), QStringList{detail});
}

void InetSession::TimerFired()
{
    const Step step(this, false);
    // Silence is the server's only when it has nothing waiting for us: bytes
    // held back while a handler runs (a modal box) are our delay, not its.
    if ((m_socket && m_socket->bytesAvailable() > 0) || m_inputWaiting) {
        // Nor does the deadline run out meanwhile: the server gets at least
        // the silence time again once we read on.
        if (m_waitClock.isValid())
            m_waitGraceMs += qMax<qint64>(0, m_timeoutMs - DeadlineLeftMs());
        WaitForServer(true);
        ScheduleDrain();
        return;
    }
    if (m_state == ConnState::Disconnecting) {
        FinishDisconnect(); // a server that never answers QUIT is simply left
        return;
    }
    const InetError number = (m_state == ConnState::Resolving || (m_state == ConnState::Resolved && !m_connected))
                                 ? InetError::ConnectFailed
                                 : InetError::Timeout;
    if (m_deadlineBinds && m_waitClock.isValid()) {
        Fail(number, QStringLiteral("%1 is too slow: only %2 bytes in %3 seconds")
                         .arg(m_peerText)
                         .arg(m_waitBytes)
                         .arg(m_waitClock.elapsed() / 1000));
        return;
    }
    Fail(number, QStringLiteral("No answer from %1 within %2 seconds").arg(m_peerText).arg(m_timeoutMs / 1000));
}

#include "moc_inetsession.cpp"
