#include "popsession.h"

using namespace pop;

namespace {
// A server that does not answer QUIT is not waited for long.

PopEvents *Events(SessionEvents *events)
{
    return static_cast<PopEvents *>(events);
}

QString LineText(const StatusLine &line)
{
    return QString::fromUtf8(line.text);
}

QStringList LineList(const StatusLine &line)
{
    return {(line.ok ? QStringLiteral("+OK ") : QStringLiteral("-ERR ")) + LineText(line)};
}
} // namespace

PopSession::PopSession(PopEvents *events, QObject *parent) : InetSession(events, 995, parent) {}

PopSession::~PopSession() = default;

void PopSession::ResetSession()
{
    m_expected.clear();
    m_protocolState = 0;
    m_busy = false;
    m_retrieving = false;
    m_headersRaised = false;
    m_transferred = 0;
}

void PopSession::OnConnected()
{
    m_expected = {Wait::GreetingOk};
    WaitForServer(true);
}

void PopSession::OnEncrypted()
{
    // STLS is done: the login may now go over the encrypted connection.
    SessionOpened();
}

void PopSession::SessionOpened()
{
    if (!RaiseState(ConnState::Connected))
        return;
    m_protocolState = 1;
    Events(m_events)->PopProtocolStateChanged(1);
}

void PopSession::Send(const QByteArray &command, Wait wait)
{
    m_expected.append(wait);
    Write(command + "\r\n");
    WaitForServer(true);
}

void PopSession::Authenticate(const QByteArray &user, const QByteArray &password)
{
    m_busy = true;
    // USER and PASS go one after the other: RFC 1939 servers need not take
    // pipelined commands, and PASS must not reach a server that refused USER.
    m_pendingPassword = password;
    Send("USER " + user, Wait::UserOk);
}

void PopSession::Retrieve(int number)
{
    m_busy = true;
    m_retrieving = true;
    m_retrNumber = number;
    m_transferred = 0;
    m_headersRaised = false;
    m_decoder = RetrDecoder();
    const Guard guard = MakeGuard();
    Events(m_events)->PopDocProgress(DocState::Begin, 0, {}, QByteArray());
    if (!guard.Holds() || !m_retrieving)
        return;
    if (number < 1) {
        EndRetrieval(true, InetError::RetrieveFailed, QStringLiteral("There is no message %1").arg(number));
        return;
    }
    Send("RETR " + QByteArray::number(number), Wait::RetrOk);
}

void PopSession::OnInput()
{
    const Guard guard = MakeGuard();
    while (!InputData().isEmpty()) {
        if (m_expected.isEmpty()) {
            Fail(InetError::ProtocolError, QStringLiteral("Unexpected data from the server"),
                 {QString::fromUtf8(InputData().first(qMin<qsizetype>(InputData().size(), 80)).toByteArray())});
            return;
        }
        if (m_expected.first() == Wait::CapaLines) {
            ReadCapabilities();
            if (!guard.Holds())
                return;
            if (!m_expected.isEmpty() && m_expected.first() == Wait::CapaLines)
                return; // the rest of the list is still to come
            continue;
        }
        if (m_expected.first() == Wait::RetrLines) {
            Consume(m_decoder.Feed(InputData()));
            WaitForServer(true); // data came: the silence clock starts again
            DeliverRetrieved();
            if (!guard.Holds())
                return;
            continue;
        }
        StatusLine line;
        qsizetype used = 0;
        QByteArray error;
        switch (ParseStatusLine(InputData(), &line, &used, &error)) {
        case ParseResult::NeedMore:
            return;
        case ParseResult::Invalid:
            Fail(InetError::ProtocolError,
                 QStringLiteral("The server sent an invalid reply: %1").arg(QString::fromUtf8(error)));
            return;
        case ParseResult::Complete:
            Consume(used);
            HandleStatus(line);
            if (!guard.Holds())
                return;
            break;
        }
    }
}

void PopSession::HandleStatus(const StatusLine &line)
{
    const Wait wait = m_expected.takeFirst();
    WaitForServer(!m_expected.isEmpty());
    switch (wait) {
    case Wait::GreetingOk:
        // The welcome; -ERR means the server will not serve us.
        if (!line.ok) {
            Fail(InetError::GreetingRefused,
                 line.text.isEmpty() ? QStringLiteral("The server refused the session") : LineText(line),
                 LineList(line));
            return;
        }
        if (Encrypted()) {
            SessionOpened();
            return;
        }
        // Whether the server offers STLS; the login waits for the answer.
        m_capabilities = CapaList();
        Send("CAPA", Wait::CapaOk);
        return;
    case Wait::CapaOk:
        // The capability list follows, or the server predates CAPA (and so
        // cannot offer STLS): the login goes on in clear as it always has.
        if (!line.ok) {
            SessionOpened();
            return;
        }
        m_expected.prepend(Wait::CapaLines);
        WaitForServer(true);
        return;
    case Wait::StlsOk:
        // Ready for the handshake. A refusal after the offer ends the
        // session: the password is never sent in clear to a server that
        // offered encryption.
        if (!line.ok) {
            Fail(InetError::TlsFailed,
                 QStringLiteral("The server offered STLS but refused it%1")
                     .arg(line.text.isEmpty() ? QString() : QStringLiteral(": ") + LineText(line)),
                 LineList(line));
            return;
        }
        StartTls();
        return;
    case Wait::UserOk:
        // The user name is known; the password follows only now.
        if (!line.ok) {
            RefuseLogin(line);
            return;
        }
        Send("PASS " + m_pendingPassword, Wait::PassOk);
        m_pendingPassword.fill('\0');
        m_pendingPassword.clear();
        return;
    case Wait::PassOk: {
        // Logged in; the mailbox is locked for us until QUIT.
        if (!line.ok) {
            RefuseLogin(line);
            return;
        }
        m_protocolState = 2;
        Send("STAT", Wait::StatOk); // before the event: a handler may quit
        const Guard guard = MakeGuard();
        Events(m_events)->PopProtocolStateChanged(2);
        if (!guard.Holds())
            return;
        return;
    }
    case Wait::StatOk: {
        // "+OK count size": the count starts the browsing.
        m_busy = false;
        const QList<QByteArray> parts = line.text.split(' ');
        bool ok = line.ok && !parts.isEmpty();
        const qint32 count = ok ? parts[0].toInt(&ok) : 0;
        if (!ok || count < 0) {
            m_events->SessionError(InetError::StatFailed,
                                   line.ok ? QStringLiteral("The server sent a malformed message count")
                                           : LineText(line),
                                   LineList(line));
            return;
        }
        Events(m_events)->PopMessageCount(count);
        return;
    }
    case Wait::RetrOk:
        // The message follows, or the server has no such message.
        if (!m_retrieving)
            return;
        if (!line.ok) {
            EndRetrieval(true, InetError::RetrieveFailed,
                         line.text.isEmpty() ? QStringLiteral("No message %1").arg(m_retrNumber) : LineText(line),
                         LineList(line));
            return;
        }
        m_expected.prepend(Wait::RetrLines);
        WaitForServer(true);
        return;
    case Wait::QuitOk:
        // Goodbye: the server has ended the session.
        FinishDisconnect();
        return;
    case Wait::CapaLines:
    case Wait::RetrLines:
    case Wait::Ignored:
        return;
    }
}

void PopSession::ReadCapabilities()
{
    qsizetype used = 0;
    QByteArray error;
    const ParseResult result = m_capabilities.Feed(InputData(), &used, &error);
    Consume(used);
    if (result == ParseResult::Invalid) {
        Fail(InetError::ProtocolError,
             QStringLiteral("The server sent an invalid reply: %1").arg(QString::fromUtf8(error)));
        return;
    }
    WaitForServer(true);
    if (result == ParseResult::NeedMore)
        return;
    m_expected.removeFirst(); // CapaLines
    WaitForServer(!m_expected.isEmpty());
    if (m_capabilities.Has("STLS")) {
        Send("STLS", Wait::StlsOk);
        return;
    }
    SessionOpened();
}

void PopSession::RefuseLogin(const StatusLine &line)
{
    // The error comes while still in authorization, so that the window can
    // tell a login failure; then the session ends, so that the user can
    // correct the password and connect again.
    m_busy = false;
    m_pendingPassword.clear();
    const Guard guard = MakeGuard();
    m_events->SessionError(InetError::AuthFailed,
                           line.text.isEmpty() ? QStringLiteral("Login refused") : LineText(line), LineList(line));
    if (!guard.Holds())
        return;
    Quit();
}

void PopSession::DeliverRetrieved()
{
    const Guard guard = MakeGuard();
    if (!m_headersRaised && m_decoder.HeadersDone()) {
        m_headersRaised = true;
        Events(m_events)->PopDocProgress(DocState::Headers, m_transferred, m_decoder.Headers(), QByteArray());
        if (!guard.Holds() || !m_retrieving)
            return;
    }
    if (m_headersRaised) {
        const QByteArray body = m_decoder.TakeBody();
        if (!body.isEmpty()) {
            m_transferred += body.size();
            Events(m_events)->PopDocProgress(DocState::Data, m_transferred, {}, body);
            if (!guard.Holds() || !m_retrieving)
                return;
        }
    }
    if (m_decoder.Done()) {
        m_expected.removeFirst(); // RetrLines
        WaitForServer(!m_expected.isEmpty());
        EndRetrieval(false);
    }
}

void PopSession::EndRetrieval(bool failed, InetError number, const QString &description, const QStringList &lines)
{
    m_retrieving = false;
    m_busy = false;
    const Guard guard = MakeGuard();
    if (failed) {
        m_events->SessionError(number, description, lines);
        if (!guard.Holds() || m_retrieving)
            return;
    }
    Events(m_events)->PopDocProgress(DocState::End, m_transferred, {}, QByteArray());
}

bool PopSession::TakeRunningWork()
{
    const bool had = m_retrieving;
    m_retrieving = false;
    m_busy = false;
    m_protocolState = 0;
    return had;
}

void PopSession::RaiseWorkAborted()
{
    Events(m_events)->PopDocProgress(DocState::End, m_transferred, {}, QByteArray());
}

QString PopSession::AbortedWorkText() const
{
    return QStringLiteral("Message %1 was not retrieved whole: the session was closed during the transfer")
        .arg(m_retrNumber);
}

void PopSession::Quit()
{
    // QUIT's reply would come after the rest of a message being retrieved;
    // closing now costs nothing, since this client never deletes a message.
    const bool midMessage = m_state == ConnState::Connected &&
                            (m_expected.contains(Wait::RetrLines) || m_expected.contains(Wait::RetrOk));
    if (!BeginQuit(midMessage))
        return;
    for (Wait &wait : m_expected)
        wait = Wait::Ignored;
    m_expected.append(Wait::QuitOk);
    Write("QUIT\r\n");
    WaitForServer(true, QuitWaitMs);
}
