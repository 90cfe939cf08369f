#pragma once
#include "net/inetsession.h"
#include "smtpengine.h"
#include "smtpsignin.h"
#include "smtptransaction.h"

#include <QElapsedTimer>

#include <memory>

// The SMTP engine (RFC 5321): the handshake, then one document at a time
// (smtp::Transaction), signed in before the first one when a password is
// given (smtp::SignIn), RSET after a refused one, QUIT. It routes each reply
// to the step that awaits it and turns the outcomes into events. A session
// the server closes while nothing is under way is opened again at once.
class SmtpSession : public InetSession, private smtp::Link {
    Q_OBJECT
public:
    explicit SmtpSession(SmtpListener *listener, QObject *parent = nullptr);
    ~SmtpSession() override;

    bool DocumentRunning() const { return m_transaction != nullptr; }
    bool HasExtension(QByteArrayView keyword) const { return m_handshake.Offers(keyword); }

    // The account to sign in with; taken at the next document, and only if
    // the session is not signed in yet. An empty password: no sign-in.
    void SetCredentials(const QByteArray &user, const QByteArray &password);
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
    bool OnIdleEnd() override;

private:
    // smtp::Link
    void Send(const QByteArray &command, smtp::Await await) override;
    void Write(const QByteArray &bytes) override;
    void Expect(smtp::Await await) override;
    qint64 Backlog() const override { return BytesToWrite(); }
    bool Offers(QByteArrayView extension) const override { return HasExtension(extension); }
    bool MustEncrypt(QString *why) const override { return InetSession::MustEncrypt(why, kSubmissionPort); }
    void Progress(DocState state, qint64 total, qint64 transferred) override;

    void OnReply(const smtp::Reply &reply);
    void OnUnawaitedReply(const smtp::Reply &reply);
    void OnClosing421(smtp::Await await, const smtp::Reply &reply);
    void OnRset250(const smtp::Reply &reply);
    void Act(const smtp::Outcome &outcome);
    void EndDocument(smtp::Outcome outcome);
    void BeginDocument();
    QString SignInAdvice(const QString &serverText, InetError *number) const;
    SmtpListener *Listener() const { return m_owner; }

    SmtpListener *m_owner;
    QList<smtp::Await> m_awaiting;
    smtp::Handshake m_handshake{*this};
    std::unique_ptr<smtp::Transaction> m_transaction;
    std::unique_ptr<smtp::SignIn> m_signIn;
    QByteArray m_user;
    QByteArray m_password;
    bool m_signedIn = false;
    // Set when a session was opened again after the server closed an idle
    // one, until a document goes through it; m_ready times the session.
    bool m_reopened = false;
    QElapsedTimer m_ready;

    // RFC 6409: the port for mail submission, never used in clear.
    static constexpr quint16 kSubmissionPort = 587;
    // A session closed sooner than this after it was opened again is not
    // idle: the server is refusing us, and that is reported.
    static constexpr qint64 kMinIdleSessionMs = 10000;
};
