#include "tpop.h"
#include "eoleexception.h"

QString toString(PopProtocolState state)
{
    switch (state) {
    case PopProtocolState::Authorization: return QStringLiteral("Authorization");
    case PopProtocolState::Transaction: return QStringLiteral("Transaction");
    }
    return QStringLiteral("PopProtocolState(%1)").arg(short(state));
}

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

TPOP::TPOP(QWidget *parent)
    : TInternetControl(110, parent), m_docOutput(new TDocOutput(this)), m_session(new PopSession(this, this))
{
}

TPOP::~TPOP()
{
    // The engine must not call back into a control that is half destroyed.
    delete m_session;
    m_session = nullptr;
}

short TPOP::State() const
{
    return short(m_session->State());
}

bool TPOP::Busy() const
{
    return m_session->Busy();
}

short TPOP::ProtocolState() const
{
    return m_session->State() == ConnState::Connected ? m_session->ProtocolState() : 0;
}

void TPOP::Connect(const OleVariant &remoteHost, const OleVariant &remotePort)
{
    if (m_session->State() != ConnState::Disconnected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP session is already open"));
    if (!remoteHost.IsOmitted())
        SetRemoteHost(remoteHost.ToString());
    const int port = remotePort.IsOmitted() ? 0 : remotePort.ToInt();
    if (!remotePort.IsOmitted() && (port < 1 || port > 65535))
        throw EOleException(EOleException::E_InvalidArg, QStringLiteral("Port %1 is not valid").arg(port));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Open(RemoteHost(), port);
}

void TPOP::Quit()
{
    m_session->Quit();
}

void TPOP::Authenticate(const OleVariant &userId, const OleVariant &password)
{
    const QString user = userId.IsOmitted() ? m_userId : userId.ToString();
    const QString pass = password.IsOmitted() ? m_password : password.ToString();
    if (m_session->State() != ConnState::Connected || m_session->ProtocolState() != 1)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP session is not waiting for a login"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    const QByteArray userBytes = CommandArgument(user, QStringLiteral("user name"));
    const QByteArray passBytes = CommandArgument(pass, QStringLiteral("password"));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Authenticate(userBytes, passBytes);
}

void TPOP::RetrieveMessage(short messageNumber)
{
    if (m_session->State() != ConnState::Connected || m_session->ProtocolState() != 2)
        throw EOleException(EOleException::E_Fail, QStringLiteral("Not logged in to a POP server"));
    if (m_session->Busy())
        throw EOleException(EOleException::E_Fail, QStringLiteral("The POP control is busy"));
    m_errors->Clear();
    m_session->SetTimeoutSeconds(Timeout());
    m_session->Retrieve(messageNumber);
}

void TPOP::SessionStateChanged(ConnState state)
{
    RaiseEvent([&] { emit OnStateChanged(short(state)); });
}

void TPOP::SessionError(InetError number, const QString &description, const QStringList &serverLines)
{
    RaiseError(number, description, serverLines, QStringLiteral("TPOP"));
}

void TPOP::PopProtocolStateChanged(short state)
{
    RaiseEvent([&] { emit OnProtocolStateChanged(state); });
}

void TPOP::PopDocProgress(DocState state, qint64 transferred, const QList<pop::RawHeader> &headers,
                          const QString &text)
{
    if (state == DocState::Begin)
        m_docOutput->Headers()->Clear();
    if (state == DocState::Headers) {
        // Raw values: only unfolded, nothing decoded.
        m_docOutput->Headers()->Clear();
        for (const auto &[name, value] : headers)
            m_docOutput->Headers()->Add(QString::fromLatin1(name), QString::fromUtf8(value));
    }
    m_docOutput->SetProgress(short(state), ClampCount(transferred), text);
    RaiseEvent([&] { emit OnDocOutput(m_docOutput); });
}

void TPOP::PopMessageCount(qint32 count)
{
    RaiseEvent([&] { emit OnRefreshMessageCount(count); });
}
