#pragma once
#include "net/inetsession.h"
#include "smtpbody.h"
#include "smtpmessage.h"
#include "smtpreply.h"

#include <QFile>
#include <QSet>
#include <memory>

class SmtpEvents : public SessionEvents {
public:
    // The document's transfer state with its byte counts (body octets as
    // the program gave them, before line-end normalisation and encoding).
    virtual void SmtpDocProgress(DocState state, qint64 total, qint64 transferred) = 0;
};

// The SMTP engine (RFC 5321): greeting, EHLO (HELO when refused), STARTTLS
// when offered (RFC 3207) and EHLO again over TLS, one
// document at a time with its envelope pipelined when the server offers
// PIPELINING, the DATA stream normalised, dot-stuffed and encoded while it
// streams from memory or disk, RSET after a refused transaction, QUIT.
class SmtpSession : public InetSession {
    Q_OBJECT
public:
    explicit SmtpSession(SmtpEvents *events, QObject *parent = nullptr);
    ~SmtpSession() override;

    bool DocumentRunning() const { return m_doc != nullptr; }
    bool HasExtension(const QByteArray &keyword) const { return m_extensions.contains(keyword); }

    // One document. The body is the text, or (when text is null) the file.
    // The caller has checked that the session is connected and idle.
    void SendDocument(const smtp::HeaderList &headers, const QByteArray &text, bool fromFile,
                      const QString &fileName);
    void Quit();

protected:
    void OnConnected() override;
    void OnEncrypted() override;
    void OnInput() override;
    void OnWritten() override;
    bool TakeRunningWork() override;
    void RaiseWorkAborted() override;
    QString AbortedWorkText() const override;
    void ResetSession() override;
    bool ClientHolding() const override { return m_pumping; }

private:
    // What the engine waits for, named after the reply it expects.
    enum class Wait {
        Greeting220,
        Ehlo250,
        Helo250,
        StartTls220,
        Mail250,
        Rcpt250,
        Data354,
        DataEnd250,
        Rset250,
        Quit221,
        Ignored, // a reply to a command of an abandoned transaction
    };
    struct Document;

    void Send(const QByteArray &command, Wait wait);
    QByteArray HelloName() const;
    void HandleReply(const smtp::Reply &reply);
    void SessionReady();
    void StartEnvelope();
    void SendNextRecipient();
    void EnvelopeReplied();
    void RefuseDocument();
    // By value: the texts often live in the document that this ends.
    void AbandonDocument(InetError number, QString description, QStringList lines);
    void PumpBody();
    bool ReadBodyChunk(QByteArray *chunk, QString *error);
    void EndDocument();
    void FailOnReply(InetError number, const QString &fallback, const smtp::Reply &reply);

    QList<Wait> m_expected;
    QSet<QByteArray> m_extensions;
    std::unique_ptr<Document> m_doc;
    qint64 m_lastTotal = 0;
    qint64 m_lastTransferred = 0;
    bool m_pumping = false;
};
