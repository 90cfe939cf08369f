#pragma once
#include "net/trust.h"
#include "opendialog.h"
#include "ui_mailform.h"
#include "updown.h"

#include <QString>
#include <QWidget>

class TDocInput;
class TDocOutput;

// The one window of the program. Its behaviour lives in its event handlers,
// named after the control and event they serve; the files of this folder
// hold them by concern.
class TMailForm : public QWidget, private Ui::MailForm, private CertificateDecider {
    Q_OBJECT
public:
    explicit TMailForm(QWidget *parent = nullptr);
    ~TMailForm() override;

    // Read-only views for tests and diagnostics.
    bool AddressVerified() const { return FAddressVerified; }
    bool SmtpFailed() const { return FSmtpFailed; }
    bool PopFailed() const { return FPopFailed; }
    QString GetWorkDir() const { return WorkDir; }
    QString GetMessageFileArg() const { return MessageFileArg; }
    const TOpenDialog &GetOpenDialog() const { return OpenDialog; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void BindHandlers();

    // Lifecycle
    void FormCreate(QObject *Sender);
    void FormClose(QObject *Sender);
    void FormResize(QObject *Sender);
    void QuitBtnClick(QObject *Sender);
    void ClearBtnClick(QObject *Sender);

    // Settings file and command-line hand-off
    bool LoadSettings();
    void ConnectSmtp();
    void SaveSettings(QObject *Sender);
    void ApplyHandOff();
    bool SendGatePasses();
    void VisitHalvex(QObject *Sender);

    // SMTP session
    void eSMTPServerChange(QObject *Sender);
    void SMTPConnectBtnClick(QObject *Sender);
    void SMTP1StateChanged(QObject *Sender, short State);

    // Sending
    void SendBtnClick(QObject *Sender);
    void cbSendFileClick(QObject *Sender);
    void SMTP1Verify(QObject *Sender);
    void SMTP1DocInput(QObject *Sender, TDocInput *DocInput);
    void BuildHeaders();
    void SendMessageText();
    void SendMessageFile(const QString &FileName);

    // Certificates no known authority vouches for, put to the user
    bool TrustCertificate(const CertificateQuestion &question) override;

    // Errors
    void ErrorBox(const QString &text);
    void SMTP1Error(QObject *Sender, short Number, const QString &Description, bool &CancelDisplay);
    void POP1Error(QObject *Sender, short Number, const QString &Description, bool &CancelDisplay);

    // POP session
    void ePOPServerChange(QObject *Sender);
    void POPConnectBtnClick(QObject *Sender);
    void POP1StateChanged(QObject *Sender, short State);
    void POP1ProtocolStateChanged(QObject *Sender, short ProtocolState);

    // Browsing
    void POP1RefreshMessageCount(QObject *Sender, qint32 Number);
    void udCurMessageClick(QObject *Sender, TUDBtnType Button);
    void POP1DocOutput(QObject *Sender, TDocOutput *DocOutput);

    bool FAddressVerified = false;
    bool FSmtpFailed = false;
    bool FPopFailed = false;
    bool FStepPending = false; // stepped while a retrieval was under way
    QString WorkDir;
    QString MessageFileArg;
    TOpenDialog OpenDialog;
    // Set once the window has been asked to close after start-up, so that a
    // send still waiting in its loop stops quietly.
    bool FClosed = false;
    bool FCreating = true;
    bool FSending = false; // a Send press is waiting for the control
};
