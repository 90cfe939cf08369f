// The engines behind the interfaces of engines.h, built as a module of
// their own: opening it loads the network, TLS and SASL libraries, which the
// program itself does not link.
#include "engines.h"
#include "pop/popsession.h"
#include "smtp/smtpsession.h"

#include <cstring>
#include <type_traits>

namespace {

template <typename Session, typename Interface>
class Common : public Interface {
public:
    template <typename Listener>
    explicit Common(Listener *listener) : m_session(listener)
    {
    }

    ConnState State() const override { return m_session.State(); }
    ConnState ReportedState() const override { return m_session.ReportedState(); }
    bool EventsWaiting() const override { return m_session.EventsWaiting(); }
    void SetTimeoutSeconds(int seconds) override { m_session.SetTimeoutSeconds(seconds); }
    void SetCertificateDecider(CertificateDecider *decider) override { m_session.SetCertificateDecider(decider); }
    void Open(const QString &remoteHost, int defaultPort, int explicitPort) override
    {
        m_session.Open(remoteHost, defaultPort, explicitPort);
    }
    void Quit() override { m_session.Quit(); }

protected:
    Session m_session;
};

class Smtp final : public Common<SmtpSession, SmtpEngine> {
public:
    using Common::Common;
    bool DocumentRunning() const override { return m_session.DocumentRunning(); }
    void SetCredentials(const QByteArray &user, const QByteArray &password) override
    {
        m_session.SetCredentials(user, password);
    }
    void SendDocument(smtp::Document document) override { m_session.SendDocument(std::move(document)); }
};

class Pop final : public Common<PopSession, PopEngine> {
public:
    using Common::Common;
    PopProtocolState ProtocolState() const override { return m_session.ProtocolState(); }
    PopProtocolState ReportedProtocolState() const override { return m_session.ReportedProtocolState(); }
    bool Busy() const override { return m_session.Busy(); }
    void Authenticate(const QByteArray &user, const QByteArray &password) override
    {
        m_session.Authenticate(user, password);
    }
    void Retrieve(int number, bool decodeMime, qsizetype maxChars) override
    {
        m_session.Retrieve(number, decodeMime, maxChars);
    }
};

class Factory final : public EngineFactory {
public:
    std::unique_ptr<SmtpEngine> NewSmtp(SmtpListener *listener) const override
    {
        return std::make_unique<Smtp>(listener);
    }
    std::unique_ptr<PopEngine> NewPop(PopListener *listener) const override { return std::make_unique<Pop>(listener); }
};

} // namespace

extern "C" Q_DECL_EXPORT const EngineFactory *orv_engines(const char *buildId)
{
    static const Factory factory;
    return buildId && std::strcmp(buildId, ORV_ENGINES_BUILD_ID) == 0 ? &factory : nullptr;
}

// The entry keeps the type the loader casts it to.
static_assert(std::is_same_v<decltype(&orv_engines), EngineEntry>);
