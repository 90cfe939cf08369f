#pragma once
#include "internetcontrol.h"

// Protocol state of a POP session inside connection state 4.
enum class PopProtocolState : short { Authorization = 1, Transaction = 2 };
QString toString(PopProtocolState state);

// The POP client control (interface IPopControl).
class TPOP : public TInternetControl {
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
    virtual short ProtocolState() const { return 0; }

    void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) override;
    void Quit() override;
    void Authenticate(const OleVariant &userId, const OleVariant &password);
    void RetrieveMessage(short messageNumber);

signals:
    void OnProtocolStateChanged(short ProtocolState);
    void OnDocOutput(TDocOutput *DocOutput);
    void OnRefreshMessageCount(qint32 Number);

private:
    QString m_userId;
    QString m_password;
    int m_topLines = 0;
    TDocOutput *m_docOutput;
};

using IPopControl = TPOP;
