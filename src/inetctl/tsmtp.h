#pragma once
#include "internetcontrol.h"
#include "smtp/smtpsession.h"

// The SMTP client control (interface ISmtpControl).
class TSMTP : public TInternetControl, private SmtpEvents {
    Q_OBJECT
public:
    explicit TSMTP(QWidget *parent = nullptr);
    ~TSMTP() override;

    short State() const override;
    // From Verify until the check, and every document it set off, has ended.
    bool Busy() const override;

    void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) override;
    void Quit() override;
    // Checks a comma-separated recipient list; OnVerify only when all pass.
    void Verify(const OleVariant &recipients);
    // One outgoing document: headers from the collection, body from the data
    // text (argument 3) or from the file named by argument 4.
    void SendDoc(const OleVariant &url, const OleVariant &headers, const OleVariant &inputData,
                 const OleVariant &inputFile, const OleVariant &outputFile);
    TDocInput *DocInput() const { return m_docInput; }

signals:
    void OnVerify();
    void OnDocInput(TDocInput *DocInput);
    // Raised by the design's interface but not used by the engine.
    void OnTimeout();
    void OnCancel();
    void OnProtocolStateChanged(short ProtocolState);
    void OnBusy(bool Busy);
    void OnLog();
    void OnReset();
    void OnExpand();
    void OnHelp();
    void OnNoop();

private:
    void SessionStateChanged(ConnState state) override;
    void SessionError(InetError number, const QString &description, const QStringList &serverLines) override;
    void SmtpDocProgress(DocState state, qint64 total, qint64 transferred) override;
    void RunVerify(const QString &recipients);

    TDocInput *m_docInput;
    SmtpSession *m_session;
    int m_verifying = 0;
};

using ISmtpControl = TSMTP;
