#pragma once
#include "net/inetsession.h"
#include "popcapa.h"
#include "popreply.h"


class PopEvents : public SessionEvents {
public:
    virtual void PopProtocolStateChanged(short state) = 0;
    // One step of a retrieved document: at Headers the header list is
    // complete; at Data, body holds the next octets of the body (CRLF line
    // ends, dots unstuffed), which the control turns into text.
    virtual void PopDocProgress(DocState state, qint64 transferred, const QList<pop::RawHeader> &headers,
                                const QByteArray &body) = 0;
    virtual void PopMessageCount(qint32 count) = 0;
};

// The POP3 engine (RFC 1939): greeting, CAPA and STLS when offered (RFC
// 2449, 2595), USER/PASS, STAT, RETR streamed in chunks, QUIT. It never
// deletes a message.
class PopSession : public InetSession {
    Q_OBJECT
public:
    explicit PopSession(PopEvents *events, QObject *parent = nullptr);
    ~PopSession() override;

    short ProtocolState() const { return m_protocolState; }
    bool Busy() const { return m_busy; }

    // The caller has checked state 4, protocol state 1 and not busy.
    void Authenticate(const QByteArray &user, const QByteArray &password);
    // The caller has checked state 4, protocol state 2 and not busy.
    void Retrieve(int number);
    void Quit();

protected:
    void OnConnected() override;
    void OnEncrypted() override;
    void OnInput() override;
    bool TakeRunningWork() override;
    void RaiseWorkAborted() override;
    QString AbortedWorkText() const override;
    void ResetSession() override;

private:
    // What the engine waits for, named after the reply it expects.
    enum class Wait { GreetingOk, CapaOk, CapaLines, StlsOk, UserOk, PassOk, StatOk, RetrOk, RetrLines, QuitOk, Ignored };

    void Send(const QByteArray &command, Wait wait);
    void HandleStatus(const pop::StatusLine &line);
    void ReadCapabilities();
    void SessionOpened();
    void DeliverRetrieved();
    void EndRetrieval(bool failed, InetError number = InetError::RetrieveFailed,
                      const QString &description = QString(), const QStringList &lines = {});
    void RefuseLogin(const pop::StatusLine &line);

    QList<Wait> m_expected;
    short m_protocolState = 0;
    bool m_busy = false;
    bool m_retrieving = false;
    int m_retrNumber = 0;
    pop::RetrDecoder m_decoder;
    bool m_headersRaised = false;
    qint64 m_transferred = 0;
    QByteArray m_pendingPassword;
    pop::CapaList m_capabilities;
};
