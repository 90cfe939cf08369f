#pragma once
#include "docobjects.h"
#include "inetstates.h"
#include "engines.h"

#include <QString>
#include <QWidget>

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

// What the two client controls share: a hidden 32 x 32 child of the window
// with its stored settings, the connection state, the busy flag, the error
// list and Connect. Events are signals emitted on the user-interface thread,
// raised by the engine once its step is done (net/inetsession.h): a handler
// may open a modal box, call back into the control or have it deleted later.
// The engine is made at the first Connect, when its module is opened
// (engineloader.h); until then the control is disconnected and idle.
class TInternetControl : public QWidget, protected virtual SessionListener {
    Q_OBJECT
    Q_PROPERTY(QString RemoteHost READ RemoteHost WRITE SetRemoteHost)
    Q_PROPERTY(int RemotePort READ RemotePort WRITE SetRemotePort)
    // Seconds a server may stay silent before the session is given up.
    Q_PROPERTY(int Timeout READ Timeout WRITE SetTimeout)
    // Stored with the window as the control has always kept them; the
    // engines do not use them.
    Q_PROPERTY(bool Blocking MEMBER m_blocking)
    Q_PROPERTY(int SleepTime MEMBER m_sleepTime)
    Q_PROPERTY(int NotificationMode MEMBER m_notificationMode)
    Q_PROPERTY(bool Logging MEMBER m_logging)
    Q_PROPERTY(int LocalPort MEMBER m_localPort)
    Q_PROPERTY(QString URL MEMBER m_url)

public:
    ~TInternetControl() override;

    QString RemoteHost() const { return m_remoteHost; }
    void SetRemoteHost(const QString &host) { m_remoteHost = host; }
    int RemotePort() const { return m_remotePort; }
    void SetRemotePort(int port) { m_remotePort = port; }
    int Timeout() const { return m_timeout; }
    void SetTimeout(int seconds) { m_timeout = seconds; }

    // The connection state as the events raised so far have told it.
    short State() const;
    virtual bool Busy() const = 0;
    const TErrors &Errors() const { return m_errors; }

    // Connects to RemoteHost (or remoteHost, which then becomes RemoteHost)
    // at the port it names, else at RemotePort; a given remotePort overrides
    // both. Throws EOleException when a session is open or the port is not
    // valid.
    void Connect(const std::optional<QString> &remoteHost = std::nullopt,
                 const std::optional<int> &remotePort = std::nullopt);
    virtual void Quit() = 0;
    // Who decides about a certificate that no known authority vouches for
    // (the window's dialog); without one such a certificate is refused.
    void SetCertificateDecider(CertificateDecider *decider);

    QSize sizeHint() const override { return QSize(32, 32); }

    // Where an exception thrown by an event handler goes: it must not unwind
    // into the engine or into Qt's event dispatch. The application installs
    // its exception handler here; without one the message is logged.
    using HandlerErrorSink = std::function<void(const std::exception &)>;
    static void SetHandlerErrorSink(HandlerErrorSink sink);

signals:
    // The control shows nothing of its own: CancelDisplay is for the
    // handler to set, and nothing is displayed either way.
    void OnError(short Number, const QString &Description, bool &CancelDisplay);
    void OnStateChanged(short State);

protected:
    TInternetControl(const QString &protocol, int defaultPort, QWidget *parent);
    // Makes the derived control's engine from the module's factory; called
    // once, by the first Connect.
    virtual Engine *CreateEngine(const EngineFactory &factory) = 0;
    // Before a call that starts work: a new failure replaces the old list.
    void PrepareCall();

    // Emits one event; an exception from the handler is passed to the sink
    // and the event counts as handled.
    template <typename Emit>
    void RaiseEvent(Emit &&emitEvent) noexcept
    {
        try {
            emitEvent();
        } catch (const std::exception &error) {
            ReportHandlerError(error);
        } catch (...) {
            ReportHandlerError(std::runtime_error("Unknown error in an event handler"));
        }
    }

    // SessionListener
    void SessionStateChanged(ConnState state) override;
    void SessionError(const SessionFailure &failure) override;

private:
    static void ReportHandlerError(const std::exception &error);

    QString m_protocol;
    Engine *m_engine = nullptr; // owned by the derived control
    CertificateDecider *m_decider = nullptr;
    TErrors m_errors;
    QString m_remoteHost;
    int m_remotePort;
    int m_timeout = 60;
    bool m_blocking = false;
    int m_sleepTime = 0;
    int m_notificationMode = 0;
    bool m_logging = false;
    int m_localPort = 0;
    QString m_url;
};
