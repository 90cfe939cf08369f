#include "internetcontrol.h"
#include "engineloader.h"
#include "eoleexception.h"

namespace {
TInternetControl::HandlerErrorSink &Sink()
{
    static TInternetControl::HandlerErrorSink sink;
    return sink;
}
} // namespace

TInternetControl::TInternetControl(const QString &protocol, int defaultPort, QWidget *parent)
    : QWidget(parent), m_protocol(protocol), m_remotePort(defaultPort)
{
    // Invisible at run time: the window shows nothing of it and it never
    // takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setMaximumSize(32, 32);
    hide();
}

TInternetControl::~TInternetControl() = default;

void TInternetControl::SetHandlerErrorSink(HandlerErrorSink sink)
{
    Sink() = std::move(sink);
}

void TInternetControl::ReportHandlerError(const std::exception &error)
{
    if (Sink()) {
        try {
            Sink()(error);
            return;
        } catch (const std::exception &second) {
            qWarning("Error while reporting an error: %s", second.what());
        }
    }
    qWarning("Error in an event handler: %s", error.what());
}

short TInternetControl::State() const
{
    return short(m_engine ? m_engine->ReportedState() : ConnState::Disconnected);
}

void TInternetControl::PrepareCall()
{
    m_errors.Clear();
    if (m_engine)
        m_engine->SetTimeoutSeconds(Timeout());
}

void TInternetControl::SetCertificateDecider(CertificateDecider *decider)
{
    m_decider = decider;
    if (m_engine)
        m_engine->SetCertificateDecider(decider);
}

void TInternetControl::Connect(const std::optional<QString> &remoteHost, const std::optional<int> &remotePort)
{
    if (m_engine && m_engine->State() != ConnState::Disconnected)
        throw EOleException(EOleException::E_Fail, QStringLiteral("The %1 session is already open").arg(m_protocol));
    if (remoteHost)
        SetRemoteHost(*remoteHost);
    if (remotePort && (*remotePort < 1 || *remotePort > 65535))
        throw EOleException(EOleException::E_InvalidArg, QStringLiteral("Port %1 is not valid").arg(*remotePort));
    if (!m_engine) {
        m_engine = CreateEngine(Engines());
        m_engine->SetCertificateDecider(m_decider);
    }
    PrepareCall();
    m_engine->Open(RemoteHost(), RemotePort(), remotePort.value_or(0));
}

void TInternetControl::SessionStateChanged(ConnState state)
{
    RaiseEvent([&] { emit OnStateChanged(short(state)); });
}

void TInternetControl::SessionError(const SessionFailure &failure)
{
    m_errors.Clear();
    for (const QString &line : failure.serverLines)
        m_errors.Add(line);
    bool cancelDisplay = false;
    RaiseEvent([&] { emit OnError(short(failure.number), failure.description, cancelDisplay); });
}

#include "moc_internetcontrol.cpp"
