#include "smtpsession.h"

using smtp::Await;
using smtp::Outcome;

namespace {
// RFC 5321 4.1.4: a desktop has no name the server could check, so it
// introduces itself by its address as a literal.
QByteArray HelloName(const QHostAddress &local)
{
    if (local.isNull())
        return "localhost";
    const QByteArray address = local.toString().toLatin1();
    return local.protocol() == QAbstractSocket::IPv6Protocol ? "[IPv6:" + address + ']' : '[' + address + ']';
}

QString TextOr(const smtp::Reply &reply, const QString &fallback)
{
    const QString text = reply.Text();
    return text.isEmpty() ? fallback : text;
}
} // namespace

SmtpSession::SmtpSession(SmtpListener *listener, QObject *parent)
    : InetSession(listener, 465, parent), m_owner(listener)
{
}

SmtpSession::~SmtpSession() = default;

void SmtpSession::ResetSession()
{
    m_awaiting.clear();
    m_handshake.Reset();
    m_transaction.reset();
    m_signIn.reset();
    m_signedIn = false;
}

void SmtpSession::SetCredentials(const QByteArray &user, const QByteArray &password)
{
    m_password.fill('\0');
    m_user = user;
    m_password = password;
}

void SmtpSession::Send(const QByteArray &command, Await await)
{
    m_awaiting.append(await);
    InetSession::Write(command + "\r\n");
    WaitForServer(true);
}

void SmtpSession::Write(const QByteArray &bytes)
{
    InetSession::Write(bytes);
    WaitForServer(true); // the server must keep taking the message
}

void SmtpSession::Expect(Await await)
{
    m_awaiting.append(await);
    WaitForServer(true);
}

void SmtpSession::Progress(DocState state, qint64 total, qint64 transferred)
{
    Post([this, state, total, transferred] { Listener()->DocProgress(state, total, transferred); }, 0,
         state == DocState::Data ? Kind::Progress : Kind::News);
}

void SmtpSession::OnConnected()
{
    m_handshake.SetHelloName(HelloName(LocalAddress()));
    Expect(Await::Greeting220);
}

void SmtpSession::OnEncrypted()
{
    m_handshake.Encrypted();
}

void SmtpSession::OnInput()
{
    // One reply at a time until one sets off events; a reply that ends the
    // session, or starts TLS, leaves no input behind.
    while (!InputData().isEmpty() && !NewsWaiting()) {
        smtp::Reply reply;
        qsizetype used = 0;
        QString error;
        switch (smtp::ParseReply(InputData(), &reply, &used, &error)) {
        case smtp::ParseResult::NeedMore:
            return;
        case smtp::ParseResult::Invalid:
            Fail(InetError::ProtocolError, QStringLiteral("The server sent an invalid reply: %1").arg(error));
            return;
        case smtp::ParseResult::Complete:
            Consume(used);
            OnReply(reply);
            break;
        }
    }
}

void SmtpSession::OnReply(const smtp::Reply &reply)
{
    if (m_awaiting.isEmpty()) {
        OnUnawaitedReply(reply);
        return;
    }
    const Await await = m_awaiting.takeFirst();
    WaitForServer(!m_awaiting.isEmpty() || (m_transaction && m_transaction->InData()));
    // RFC 5321 3.8: 421 at any step means the server is closing the session.
    if (reply.code == 421 && await != Await::Quit221 && await != Await::Nothing) {
        OnClosing421(await, reply);
        return;
    }
    smtp::Transaction *transaction = m_transaction.get();
    switch (await) {
    case Await::Greeting220: Act(m_handshake.OnGreeting220(reply)); return;
    case Await::Ehlo250: Act(m_handshake.OnEhlo250(reply, Encrypted())); return;
    case Await::Helo250: Act(m_handshake.OnHelo250(reply)); return;
    case Await::StartTls220: Act(m_handshake.OnStartTls220(reply)); return;
    case Await::Auth235: if (m_signIn) Act(m_signIn->OnAuth235(reply)); return;
    case Await::Mail250: if (transaction) Act(transaction->OnMail250(reply)); return;
    case Await::Rcpt250: if (transaction) Act(transaction->OnRcpt250(reply)); return;
    case Await::Data354: if (transaction) Act(transaction->OnData354(reply)); return;
    case Await::DataEnd250: if (transaction) Act(transaction->OnDataEnd250(reply)); return;
    case Await::Rset250: OnRset250(reply); return;
    case Await::Quit221: FinishDisconnect(); return; // goodbye, whatever the code: we are leaving
    case Await::Nothing: BeginDocument(); return;
    }
}

void SmtpSession::OnUnawaitedReply(const smtp::Reply &reply)
{
    if (m_transaction && m_transaction->InData()) {
        // Refused while the text is still streaming: the DATA cannot be
        // ended cleanly any more, so the connection goes.
        Fail(InetError::MessageRefused, TextOr(reply, QStringLiteral("The server refused the message")),
             reply.RawLines());
        return;
    }
    if (reply.code == 421 && OnIdleEnd())
        return;
    if (reply.code == 421)
        Fail(InetError::ConnectionLost, TextOr(reply, QStringLiteral("The server closed the session")),
             reply.RawLines());
    else
        Fail(InetError::ProtocolError, QStringLiteral("Unexpected reply from the server"), reply.RawLines());
}

void SmtpSession::OnClosing421(Await await, const smtp::Reply &reply)
{
    const InetError number = await == Await::Greeting220                          ? InetError::GreetingRefused
                             : await == Await::Ehlo250 || await == Await::Helo250 ? InetError::HelloRefused
                                                                                  : InetError::ConnectionLost;
    Fail(number, TextOr(reply, QStringLiteral("The server closed the session")), reply.RawLines());
}

void SmtpSession::OnRset250(const smtp::Reply &reply)
{
    // The refused transaction is cleared; a document waiting for it starts.
    if (reply.Class() != 2) {
        Fail(InetError::ProtocolError, TextOr(reply, QStringLiteral("The server refused RSET")), reply.RawLines());
        return;
    }
    BeginDocument();
}

void SmtpSession::BeginDocument()
{
    // Only once every earlier command is answered (RSET, a cancelled
    // sign-in), and once per document.
    if (!m_awaiting.isEmpty() || !m_transaction || m_transaction->Started() || m_signIn)
        return;
    // Sign in before the first message of a session, when a password is
    // given and the server asks for it; over a connection in clear to
    // another host the password is kept back (the server's refusal of MAIL
    // then says why).
    const QByteArray mechanism = smtp::ChooseMechanism(m_handshake.Mechanisms());
    if (!m_signedIn && !m_password.isEmpty() && !mechanism.isEmpty() && (Encrypted() || PeerIsLoopback())) {
        smtp::Link &link = *this;
        m_signIn = std::make_unique<smtp::SignIn>(link, m_user, m_password);
        Act(m_signIn->Start(mechanism));
        return;
    }
    m_transaction->Start();
}

void SmtpSession::Act(const Outcome &outcome)
{
    switch (outcome.kind) {
    case Outcome::Going:
        return;
    case Outcome::Ready:
        m_ready.start();
        PostState(ConnState::Connected);
        return;
    case Outcome::StartTls:
        NoteEncryptionOffered();
        StartTls();
        return;
    case Outcome::SignedIn:
        m_signedIn = true;
        m_signIn.reset();
        if (m_transaction)
            m_transaction->Start();
        return;
    case Outcome::Sent:
    case Outcome::Refused:
        EndDocument(outcome);
        return;
    case Outcome::Broken:
        Fail(outcome.failure.number, outcome.failure.description, outcome.failure.serverLines);
        return;
    }
}

void SmtpSession::EndDocument(Outcome outcome)
{
    const std::unique_ptr<smtp::Transaction> done = std::move(m_transaction);
    m_signIn.reset();
    if (outcome.failure.number == InetError::SignInRequired)
        outcome.failure.description = SignInAdvice(outcome.failure.description, &outcome.failure.number);
    else if (outcome.kind == Outcome::Sent)
        m_reopened = false; // the session was used: it is no longer a reopened idle one
    // After RSET the server takes another transaction: the session stays.
    if (outcome.resetNeeded)
        Send("RSET", Await::Rset250);
    if (outcome.kind == Outcome::Refused)
        PostError(outcome.failure.number, outcome.failure.description, outcome.failure.serverLines);
    Progress(DocState::End, done->Total(), done->Transferred());
}

QString SmtpSession::SignInAdvice(const QString &serverText, InetError *number) const
{
    // Why the server wants a sign-in we did not make, and what to do; the
    // server's own reply follows in the error's lines.
    const QList<QByteArray> offered = m_handshake.Mechanisms();
    if (m_password.isEmpty())
        return QStringLiteral("The server requires sign-in: type the password on the Connect To page, then send "
                              "again");
    if (m_signedIn)
        return serverText;
    if (offered.isEmpty())
        return QStringLiteral("The server requires sign-in but offers none on this connection");
    if (!Encrypted() && !PeerIsLoopback()) {
        *number = InetError::SignInNotEncrypted;
        return QStringLiteral("The server requires sign-in over a connection that is not encrypted, so the "
                              "password was not sent. Use the server's submission port with encryption (587 or 465)");
    }
    if (smtp::ChooseMechanism(offered).isEmpty())
        return QStringLiteral("The server requires sign-in with a method this program does not have (it offers %1)")
            .arg(QString::fromLatin1(offered.join(' ')));
    return serverText;
}

void SmtpSession::SendDocument(smtp::Document document)
{
    const Step step(this);
    smtp::Link &link = *this;
    m_transaction = std::make_unique<smtp::Transaction>(link, std::move(document));
    Progress(DocState::Begin, 0, 0);
    const Outcome prepared = m_transaction->Prepare();
    if (prepared.kind != Outcome::Going) {
        EndDocument(prepared);
        return;
    }
    BeginDocument(); // or behind the RSET of the last one, once it is answered
}

void SmtpSession::OnWritten()
{
    if (m_transaction)
        Act(m_transaction->Pump());
}

void SmtpSession::AbandonWork(bool quitting)
{
    if (!m_transaction)
        return;
    const std::unique_ptr<smtp::Transaction> done = std::move(m_transaction);
    m_signIn.reset();
    // An unfinished message must never read as sent.
    if (quitting)
        PostError(InetError::TransferAborted,
                  QStringLiteral("The message was not sent: the session was closed before the server accepted it"));
    Progress(DocState::End, done->Total(), done->Transferred());
}

void SmtpSession::Quit()
{
    const Step step(this);
    // A message whose end never came is dropped by the server.
    const bool inData = m_state == ConnState::Connected && m_transaction && m_transaction->InData();
    if (!BeginQuit(inData))
        return;
    for (Await &await : m_awaiting)
        await = Await::Nothing;
    m_awaiting.append(Await::Quit221);
    InetSession::Write("QUIT\r\n");
    FlushOutput();
    WaitForServer(true, QuitWaitMs);
}

bool SmtpSession::OnIdleEnd()
{
    // Servers close a session nobody uses for a while (RFC 5321 4.5.3.2.7:
    // at least 5 minutes). That is no failure of the user's: the session is
    // opened again at once, so that the next message finds it ready.
    if (m_state != ConnState::Connected || m_transaction || !m_awaiting.isEmpty())
        return false;
    if (m_reopened && m_ready.isValid() && m_ready.elapsed() < kMinIdleSessionMs)
        return false; // closed again as soon as it was open: the server refuses us
    m_reopened = true;
    FinishDisconnect();
    Reopen();
    return true;
}

#include "moc_smtpsession.cpp"
