#pragma once
#include "net/inetsession.h"
#include "smtptransaction.h"

#include <memory>

// What the SMTP engine tells its owner, besides states and errors.
class SmtpListener : public virtual SessionListener {
public:
    // The document's transfer state with its byte counts (body octets as
    // the program gave them, before line-end normalisation and encoding).
    virtual void DocProgress(DocState state, qint64 total, qint64 transferred) = 0;
};

// The SMTP engine (RFC 5321): the handshake, then one document at a time
// (smtp::Transaction), RSET after a refused one, QUIT. It routes each reply
// to the step that awaits it and turns the outcomes into events.
class SmtpSession : public InetSession, private smtp::Link {
    Q_OBJECT
public:
    explicit SmtpSession(SmtpListener *listener, QObject *parent = nullptr);
    ~SmtpSession() override;

    bool DocumentRunning() const { return m_transaction != nullptr; }
    bool HasExtension(QByteArrayView keyword) const { return m_handshake.Offers(keyword); }

    // One document. The caller has checked that the session is connected
    // and idle.
    void SendDocument(smtp::Document document);
    void Quit();

protected:
    void OnConnected() override;
    void OnEncrypted() override;
    void OnInput() override;
    void OnWritten() override;
    void AbandonWork(bool quitting) override;
    void ResetSession() override;

private:
    // smtp::Link
    void Send(const QByteArray &command, smtp::Await await) override;
    void Write(const QByteArray &bytes) override;
    void Expect(smtp::Await await) override;
    qint64 Backlog() const override { return BytesToWrite(); }
    bool Offers(QByteArrayView extension) const override { return HasExtension(extension); }
    void Progress(DocState state, qint64 total, qint64 transferred) override;

    void OnReply(const smtp::Reply &reply);
    void OnUnawaitedReply(const smtp::Reply &reply);
    void OnClosing421(smtp::Await await, const smtp::Reply &reply);
    void OnRset250(const smtp::Reply &reply);
    void Act(const smtp::Outcome &outcome);
    void EndDocument(const smtp::Outcome &outcome);
    SmtpListener *Listener() const { return m_owner; }

    SmtpListener *m_owner;
    QList<smtp::Await> m_awaiting;
    smtp::Handshake m_handshake{*this};
    std::unique_ptr<smtp::Transaction> m_transaction;
};
