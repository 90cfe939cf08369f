#pragma once
#include "internetcontrol.h"
#include "pop/popsession.h"

// Protocol state of a POP session inside connection state 4.
enum class PopProtocolState : short { Authorization = 1, Transaction = 2 };
QString toString(PopProtocolState state);

// The POP client control (interface IPopControl).
class TPOP : public TInternetControl, private PopEvents {
    Q_OBJECT
    Q_PROPERTY(QString UserId READ UserId WRITE SetUserId)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(int TopLines READ TopLines WRITE SetTopLines)
public:
    explicit TPOP(QWidget *parent = nullptr);
    ~TPOP() override;

    QString UserId() const { return m_userId; }
    void SetUserId(const QString &id) { m_userId = id; }
    QString Password() const { return m_password; }
    void SetPassword(const QString &password) { m_password = password; }
    int TopLines() const { return m_topLines; }
    void SetTopLines(int lines) { m_topLines = lines; }

    short State() const override;
    bool Busy() const override;
    // 1 authorization, 2 transaction; 0 outside a connected session.
    virtual short ProtocolState() const;

    void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) override;
    void Quit() override;
    void Authenticate(const OleVariant &userId, const OleVariant &password);
    void RetrieveMessage(short messageNumber);
    TDocOutput *DocOutput() const { return m_docOutput; }

signals:
    void OnProtocolStateChanged(short ProtocolState);
    void OnDocOutput(TDocOutput *DocOutput);
    void OnRefreshMessageCount(qint32 Number);
    // Raised by the design's interface but not used by the engine.
    void OnTimeout();
    void OnCancel();
    void OnBusy(bool Busy);
    void OnLog();
    void OnMessageSize(qint32 msgSize);
    void OnDelete();
    void OnReset();
    void OnLast(qint32 Number);
    void OnNoop();

private:
    void SessionStateChanged(ConnState state) override;
    void SessionError(InetError number, const QString &description, const QStringList &serverLines) override;
    void PopProtocolStateChanged(short state) override;
    void PopDocProgress(DocState state, qint64 transferred, const QList<pop::RawHeader> &headers,
                        const QString &text) override;
    void PopMessageCount(qint32 count) override;

    QString m_userId;
    QString m_password;
    int m_topLines = 0;
    TDocOutput *m_docOutput;
    PopSession *m_session;
};

using IPopControl = TPOP;
