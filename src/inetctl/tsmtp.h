#pragma once
#include "internetcontrol.h"

#include <memory>
#include <optional>

// The SMTP client control (interface ISmtpControl).
class TSMTP : public TInternetControl, private SmtpListener {
    Q_OBJECT
    // The account for SMTP sign-in (RFC 4954), taken at each SendDoc: the
    // session signs in before its first document when the server offers
    // sign-in and Password is not empty.
    Q_PROPERTY(QString UserId READ UserId WRITE SetUserId)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
public:
    explicit TSMTP(QWidget *parent = nullptr);
    ~TSMTP() override;

    QString UserId() const { return m_userId; }
    void SetUserId(const QString &id) { m_userId = id; }
    QString Password() const { return m_password; }
    void SetPassword(const QString &password) { m_password = password; }

    // From Verify until the check, and every document it set off, has ended
    // and been reported.
    bool Busy() const override;
    void Quit() override;
    // Checks a comma-separated recipient list; OnVerify only when all pass.
    void Verify(const QString &recipients);
    // One outgoing document: the header fields (omitted: DocInput's), the
    // body from the text, or (text omitted) from the file named (omitted:
    // DocInput's FileName, which then names it).
    void SendDoc(const std::optional<TDocHeaders> &headers, const std::optional<QString> &inputData,
                 const std::optional<QString> &inputFile);
    TDocInput *DocInput() { return &m_docInput; }

signals:
    void OnVerify();
    void OnDocInput(TDocInput *DocInput);

private:
    Engine *CreateEngine(const EngineFactory &factory) override;
    void DocProgress(DocState state, qint64 total, qint64 transferred) override;
    void RunVerify(const QString &recipients);

    QString m_userId;
    QString m_password;
    TDocInput m_docInput;
    std::unique_ptr<SmtpEngine> m_session; // from the first Connect on
    int m_verifying = 0;
};

using ISmtpControl = TSMTP;
