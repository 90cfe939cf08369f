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

// How many octets at the end of bytes start a UTF-8 sequence that the next
// chunk completes.
qsizetype IncompleteUtf8Tail(const QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= qMin<qsizetype>(3, n); ++back) {
        const unsigned char c = static_cast<unsigned char>(bytes[n - back]);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation octet: look further back
        const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}
} // namespace

PopSession::PopSession(PopEvents *events, QObject *parent) : InetSession(events, 110, parent) {}

PopSession::~PopSession() = default;

void PopSession::ResetSession()
{
    m_expected.clear();
    m_protocolState = 0;
    m_busy = false;
    m_retrieving = false;
    m_headersRaised = false;
    m_transferred = 0;
    m_utf8Tail.clear();
}

void PopSession::OnConnected()
{
    m_expected = {Wait::GreetingOk};
    WaitForServer(true);
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
    m_utf8Tail.clear();
    m_decoder = RetrDecoder();
    const Guard guard = MakeGuard();
    Events(m_events)->PopDocProgress(DocState::Begin, 0, {}, QString());
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
        if (!RaiseState(ConnState::Connected))
            return;
        m_protocolState = 1;
        Events(m_events)->PopProtocolStateChanged(1);
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
    case Wait::RetrLines:
    case Wait::Ignored:
        return;
    }
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

QString PopSession::DecodeChunk(QByteArray bytes, bool last)
{
    // The body is shown as UTF-8; a character split between two chunks is
    // held back for the next; text that is not UTF-8 shows as Latin-1.
    if (!m_utf8Tail.isEmpty()) {
        bytes.prepend(m_utf8Tail);
        m_utf8Tail.clear();
    }
    if (!last) {
        const qsizetype tail = IncompleteUtf8Tail(bytes);
        if (tail > 0) {
            m_utf8Tail = bytes.right(tail);
            bytes.chop(tail);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

void PopSession::DeliverRetrieved()
{
    const Guard guard = MakeGuard();
    if (!m_headersRaised && m_decoder.HeadersDone()) {
        m_headersRaised = true;
        Events(m_events)->PopDocProgress(DocState::Headers, m_transferred, m_decoder.Headers(), QString());
        if (!guard.Holds() || !m_retrieving)
            return;
    }
    if (m_headersRaised) {
        QByteArray body = m_decoder.TakeBody();
        const bool done = m_decoder.Done();
        if (!body.isEmpty() || (done && !m_utf8Tail.isEmpty())) {
            m_transferred += body.size();
            const QString text = DecodeChunk(std::move(body), done);
            Events(m_events)->PopDocProgress(DocState::Data, m_transferred, {}, text);
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
    Events(m_events)->PopDocProgress(DocState::End, m_transferred, {}, QString());
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
    Events(m_events)->PopDocProgress(DocState::End, m_transferred, {}, QString());
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
