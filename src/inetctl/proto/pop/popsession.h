#pragma once
#include "net/inetsession.h"
#include "popengine.h"
#include "poptransaction.h"

#include <memory>

// The POP3 engine (RFC 1939): the handshake, the login with its STAT, one
// retrieval at a time, QUIT. It never deletes a message. It routes each
// reply to the step that awaits it and turns the outcomes into events.
class PopSession : public InetSession, private pop::Link {
    Q_OBJECT
public:
    explicit PopSession(PopListener *listener, QObject *parent = nullptr);
    ~PopSession() override;

    // As the engine works with it, and as the owner has been told it.
    PopProtocolState ProtocolState() const { return m_protocolState; }
    PopProtocolState ReportedProtocolState() const { return m_reportedProtocolState; }
    bool Busy() const { return m_login || m_retrieval; }

    // The caller has checked state 4, protocol state 1 and not busy.
    void Authenticate(const QByteArray &user, const QByteArray &password);
    // The caller has checked state 4, protocol state 2 and not busy.
    // decodeMime: the message as a person reads it, else its source.
    void Retrieve(int number, bool decodeMime, qsizetype maxChars = pop::kMaxMessageChars);
    void Quit();

protected:
    void OnConnected() override;
    void OnEncrypted() override;
    void OnInput() override;
    void AbandonWork(bool quitting) override;
    void ResetSession() override;

private:
    // pop::Link
    void Send(const QByteArray &command, pop::Await await) override;
    void ExpectLines(pop::Await await) override;
    void Document(const pop::DocEvent &event) override;
    bool MustEncrypt(QString *why) const override { return InetSession::MustEncrypt(why); }

    void OnStatus(const pop::StatusLine &line);
    void OnLines(pop::Await await);
    void Act(const pop::Outcome &outcome);
    void EndRetrieval();
    void PostProtocolState(PopProtocolState state);
    void QuitNow();
    PopListener *Listener() const { return m_owner; }

    PopListener *m_owner;
    QList<pop::Await> m_awaiting;
    PopProtocolState m_protocolState = PopProtocolState::None;
    PopProtocolState m_reportedProtocolState = PopProtocolState::None;
    pop::Handshake m_handshake{*this};
    std::unique_ptr<pop::Login> m_login;
    std::unique_ptr<pop::Retrieval> m_retrieval;
    quint64 m_retrievals = 0; // tags the events of each retrieval
};
