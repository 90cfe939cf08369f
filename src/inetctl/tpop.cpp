#include "tpop.h"
#include "eoleexception.h"

namespace {
// A line break in a credential would let it smuggle a second command.
QByteArray CommandArgument(const QString &text, const QString &what)
{
    for (QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            throw EOleException(EOleException::E_InvalidArg,
                                QStringLiteral("The %1 contains a control character").arg(what));
    return text.toUtf8();
}
} // namespace

TPOP::TPOP(QWidget *parent) : TInternetControl(QStringLiteral("POP"), 110, parent) {}

TPOP::~TPOP()
{
    // The engine must not call back into a control that is half destroyed.
    m_session.reset();
}

Engine *TPOP::CreateEngine(const EngineFactory &factory)
{
    m_session = factory.NewPop(this);
    return m_session.get();
}

bool TPOP::Busy() const
{
    return m_session && (m_session->Busy() || m_session->EventsWaiting());
}

short TPOP::ProtocolState() const
{
    return m_session && m_session->ReportedState() == ConnState::Connected ? short(m_session->ReportedProtocolState())
                                                                           : 0;
}

void TPOP::Quit()
{
    if (m_session)
        m_session->Quit();
}

void TPOP::Authenticate(const std::optional<QString> &userId, const std::optional<QString> &password)
{
    const QString user = userId.value_or(m_userId);
    const QString pass = password.value_or(m_password);
    if (!m_session || m_session->State() != ConnState::Connected ||
        m_session->ProtocolState() != PopProtocolState::Authorization)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP session is not waiting for a login"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    const QByteArray userBytes = CommandArgument(user, QStringLiteral("user name"));
    const QByteArray passBytes = CommandArgument(pass, QStringLiteral("password"));
    PrepareCall();
    m_session->Authenticate(userBytes, passBytes);
}

void TPOP::RetrieveMessage(short messageNumber)
{
    if (!m_session || m_session->State() != ConnState::Connected ||
        m_session->ProtocolState() != PopProtocolState::Transaction)
        throw EOleException(EOleException::E_Fail, QStringLiteral("Not logged in to a POP server"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    PrepareCall();
    m_session->Retrieve(messageNumber, m_decodeMime, qsizetype(m_maxMessageChars));
}

void TPOP::ProtocolStateChanged(PopProtocolState state)
{
    RaiseEvent([&] { emit OnProtocolStateChanged(short(state)); });
}

void TPOP::MessageCount(qint32 count)
{
    RaiseEvent([&] { emit OnRefreshMessageCount(count); });
}

void TPOP::DocProgress(const pop::DocEvent &event)
{
    if (event.state == DocState::Begin || event.state == DocState::Headers) {
        m_docOutput.EditHeaders().Clear();
        for (const auto &[name, value] : event.headers)
            m_docOutput.EditHeaders().Add(name, value);
    }
    m_messageCut = event.cut;
    m_docOutput.SetProgress(event.state, event.transferred, event.text);
    RaiseEvent([&] { emit OnDocOutput(&m_docOutput); });
}

#include "moc_tpop.cpp"
