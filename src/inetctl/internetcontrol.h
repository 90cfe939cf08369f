#pragma once
#include "docobjects.h"
#include "inetstates.h"
#include "olevariant.h"

#include <QString>
#include <QWidget>

#include <exception>
#include <functional>
#include <stdexcept>

enum class InetError : short;


// What the two client controls share: a hidden 32 x 32 child of the window
// with its stored settings, the connection state, the busy flag and the
// error list. Events are signals emitted on the user-interface thread; a
// handler may open a modal box or call back into the control.
class TInternetControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString RemoteHost READ RemoteHost WRITE SetRemoteHost)
    Q_PROPERTY(int RemotePort READ RemotePort WRITE SetRemotePort)
    Q_PROPERTY(bool Blocking READ Blocking WRITE SetBlocking)
    Q_PROPERTY(int SleepTime READ SleepTime WRITE SetSleepTime)
    Q_PROPERTY(int NotificationMode READ NotificationMode WRITE SetNotificationMode)
    Q_PROPERTY(bool Logging READ Logging WRITE SetLogging)
    Q_PROPERTY(int LocalPort READ LocalPort WRITE SetLocalPort)
    Q_PROPERTY(QString URL READ URL WRITE SetURL)
    // Seconds a server may stay silent before the session is given up.
    Q_PROPERTY(int Timeout READ Timeout WRITE SetTimeout)

public:
    explicit TInternetControl(int defaultPort, QWidget *parent = nullptr);
    ~TInternetControl() override;

    QString RemoteHost() const { return m_remoteHost; }
    void SetRemoteHost(const QString &host) { m_remoteHost = host; }
    int RemotePort() const { return m_remotePort; }
    void SetRemotePort(int port) { m_remotePort = port; }
    bool Blocking() const { return m_blocking; }
    void SetBlocking(bool on) { m_blocking = on; }
    int SleepTime() const { return m_sleepTime; }
    void SetSleepTime(int ms) { m_sleepTime = ms; }
    int NotificationMode() const { return m_notificationMode; }
    void SetNotificationMode(int mode) { m_notificationMode = mode; }
    bool Logging() const { return m_logging; }
    void SetLogging(bool on) { m_logging = on; }
    int LocalPort() const { return m_localPort; }
    void SetLocalPort(int port) { m_localPort = port; }
    QString URL() const { return m_url; }
    void SetURL(const QString &url) { m_url = url; }
    int Timeout() const { return m_timeout; }
    void SetTimeout(int seconds) { m_timeout = seconds; }

    virtual short State() const { return short(ConnState::Disconnected); }
    virtual bool Busy() const { return false; }
    TErrors *Errors() const { return m_errors; }

    virtual void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) = 0;
    virtual void Quit() = 0;

    QSize sizeHint() const override { return QSize(32, 32); }

    // Where an exception thrown by an event handler goes: it must not unwind
    // into the engine or into Qt's event dispatch. The application installs
    // its exception handler here; without one the message is logged.
    using HandlerErrorSink = std::function<void(const std::exception &)>;
    static void SetHandlerErrorSink(HandlerErrorSink sink);

signals:
    void OnError(short Number, QString &Description, qint32 Scode, const QString &Source,
                 const QString &HelpFile, qint32 HelpContext, bool &CancelDisplay);
    void OnStateChanged(short State);

protected:
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
    // Fills Errors with the server's reply lines and raises OnError.
    void RaiseError(InetError number, const QString &description, const QStringList &serverLines,
                    const QString &source);
    static qint32 ClampCount(qint64 count);
    static void ReportHandlerError(const std::exception &error);

    TErrors *m_errors;

private:
    QString m_remoteHost;
    int m_remotePort;
    bool m_blocking = false;
    int m_sleepTime = 0;
    int m_notificationMode = 0;
    bool m_logging = false;
    int m_localPort = 0;
    QString m_url;
    int m_timeout = 60;
};
