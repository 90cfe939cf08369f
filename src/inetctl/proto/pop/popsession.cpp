#include "popsession.h"

using pop::Await;
using pop::Outcome;

PopSession::PopSession(PopListener *listener, QObject *parent)
    : InetSession(listener, 995, parent), m_owner(listener)
{
}

PopSession::~PopSession() = default;

void PopSession::ResetSession()
{
    m_awaiting.clear();
    m_protocolState = PopProtocolState::None;
    m_reportedProtocolState = PopProtocolState::None;
    m_login.reset();
    m_retrieval.reset();
}

void PopSession::Send(const QByteArray &command, Await await)
{
    m_awaiting.append(await);
    Write(command + "\r\n");
    WaitForServer(true);
}

void PopSession::ExpectLines(Await await)
{
    m_awaiting.prepend(await);
    WaitForServer(true);
}

void PopSession::Document(const pop::DocEvent &event)
{
    Post([this, event] { Listener()->DocProgress(event); }, m_retrievals,
         event.state == DocState::Data ? Kind::Progress : Kind::News);
}

void PopSession::PostProtocolState(PopProtocolState state)
{
    m_protocolState = state;
    Post([this, state] {
        m_reportedProtocolState = state;
        Listener()->ProtocolStateChanged(state);
    });
}

void PopSession::OnConnected()
{
    m_awaiting = {Await::GreetingOk};
    WaitForServer(true);
}

void PopSession::OnEncrypted()
{
    // STLS is done: the login may now go over the encrypted connection.
    Act(Outcome::Of(Outcome::Opened));
}

void PopSession::Authenticate(const QByteArray &user, const QByteArray &password)
{
    const Step step(this);
    pop::Link &link = *this;
    m_login = std::make_unique<pop::Login>(link, user, password);
    m_login->Start();
}

void PopSession::Retrieve(int number, bool decodeMime, qsizetype maxChars)
{
    const Step step(this);
    // What is still to be told of the last message (its held text being
    // handed out) would run into this one: it goes.
    if (m_retrievals > 0)
        Withdraw(m_retrievals);
    ++m_retrievals;
    pop::Link &link = *this;
    m_retrieval = std::make_unique<pop::Retrieval>(link, number, decodeMime, maxChars);
    Act(m_retrieval->Start());
}

void PopSession::OnInput()
{
    // One reply at a time until one sets off events.
    while (!InputData().isEmpty() && !NewsWaiting()) {
        if (m_awaiting.isEmpty()) {
            Fail(InetError::ProtocolError, QStringLiteral("Unexpected data from the server"),
                 {QString::fromUtf8(InputData().first(qMin<qsizetype>(InputData().size(), 80)).toByteArray())});
            return;
        }
        const Await next = m_awaiting.first();
        if (next == Await::CapaList || next == Await::RetrLines) {
            const qsizetype before = InputData().size();
            OnLines(next);
            if (InputData().size() == before && !NewsWaiting())
                return; // the rest of the lines is still to come
            continue;
        }
        pop::StatusLine line;
        qsizetype used = 0;
        QByteArray error;
        switch (pop::ParseStatusLine(InputData(), &line, &used, &error)) {
        case pop::ParseResult::NeedMore:
            return;
        case pop::ParseResult::Invalid:
            Fail(InetError::ProtocolError,
                 QStringLiteral("The server sent an invalid reply: %1").arg(QString::fromUtf8(error)));
            return;
        case pop::ParseResult::Complete:
            Consume(used);
            OnStatus(line);
            break;
        }
    }
}

void PopSession::OnLines(Await await)
{
    qsizetype used = 0;
    bool ended = false;
    const Outcome outcome = await == Await::CapaList ? m_handshake.OnCapaList(InputData(), &used, &ended)
                            : m_retrieval          ? m_retrieval->OnRetrLines(InputData(), &used, &ended)
                                                   : Outcome{};
    Consume(used);
    WaitForServer(true); // lines came: the silence clock starts again
    if (ended && !m_awaiting.isEmpty() && m_awaiting.first() == await) {
        m_awaiting.removeFirst();
        WaitForServer(!m_awaiting.isEmpty());
    }
    Act(outcome);
}

void PopSession::OnStatus(const pop::StatusLine &line)
{
    const Await await = m_awaiting.takeFirst();
    WaitForServer(!m_awaiting.isEmpty());
    switch (await) {
    case Await::GreetingOk: Act(m_handshake.OnGreetingOk(line, Encrypted())); return;
    case Await::CapaOk: Act(m_handshake.OnCapaOk(line)); return;
    case Await::StlsOk: Act(m_handshake.OnStlsOk(line)); return;
    case Await::UserOk: if (m_login) Act(m_login->OnUserOk(line)); return;
    case Await::PassOk: if (m_login) Act(m_login->OnPassOk(line)); return;
    case Await::StatOk: if (m_login) Act(m_login->OnStatOk(line)); return;
    case Await::RetrOk: if (m_retrieval) Act(m_retrieval->OnRetrOk(line)); return;
    case Await::QuitOk: FinishDisconnect(); return; // goodbye: the server has ended the session
    case Await::CapaList:
    case Await::RetrLines:
    case Await::Nothing:
        return;
    }
}

void PopSession::Act(const Outcome &outcome)
{
    const SessionFailure &failure = outcome.failure;
    switch (outcome.kind) {
    case Outcome::Going:
        return;
    case Outcome::Opened:
        PostState(ConnState::Connected);
        PostProtocolState(PopProtocolState::Authorization);
        return;
    case Outcome::StartTls:
        NoteEncryptionOffered();
        StartTls();
        return;
    case Outcome::LoggedIn:
        PostProtocolState(PopProtocolState::Transaction);
        return;
    case Outcome::Counted:
        m_login.reset();
        Post([this, count = outcome.count] { Listener()->MessageCount(count); });
        return;
    case Outcome::StatFailed:
        m_login.reset();
        PostError(failure.number, failure.description, failure.serverLines);
        return;
    case Outcome::LoginRefused:
        // Told while still in authorization, so that the window can tell a
        // login failure; then the session ends, so that the user can
        // correct the password and connect again.
        m_login.reset();
        PostError(failure.number, failure.description, failure.serverLines);
        QuitNow();
        return;
    case Outcome::Retrieved:
        EndRetrieval();
        return;
    case Outcome::RetrieveFailed:
        PostError(failure.number, failure.description, failure.serverLines);
        EndRetrieval();
        return;
    case Outcome::Broken:
        Fail(failure.number, failure.description, failure.serverLines);
        return;
    }
}

void PopSession::EndRetrieval()
{
    const std::unique_ptr<pop::Retrieval> done = std::move(m_retrieval);
    if (done)
        done->Finish();
}

void PopSession::AbandonWork(bool quitting)
{
    m_login.reset();
    m_protocolState = PopProtocolState::None;
    if (!m_retrieval)
        return;
    // A retrieval cut short is a failure, told before its end.
    if (quitting)
        PostError(InetError::TransferAborted,
                  QStringLiteral("Message %1 was not retrieved whole: the session was closed during the transfer")
                      .arg(m_retrieval->Number()));
    EndRetrieval();
}

void PopSession::Quit()
{
    const Step step(this);
    QuitNow();
}

void PopSession::QuitNow()
{
    // QUIT's reply would come after the rest of a message being retrieved;
    // closing now costs nothing, since this client never deletes a message.
    const bool midMessage = m_state == ConnState::Connected &&
                            (m_awaiting.contains(Await::RetrLines) || m_awaiting.contains(Await::RetrOk));
    if (!BeginQuit(midMessage))
        return;
    for (Await &await : m_awaiting)
        await = Await::Nothing;
    m_awaiting.append(Await::QuitOk);
    Write("QUIT\r\n");
    FlushOutput();
    WaitForServer(true, QuitWaitMs);
}

#include "moc_popsession.cpp"
