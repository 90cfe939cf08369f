// Composing and sending a message.
#include "apphandler.h"
#include "mailform.h"
#include "messageid.h"
#include "progresstexts.h"

#include <QCoreApplication>
#include <QPointer>

void TMailForm::SendBtnClick(QObject *)
{
    if (!SendGatePasses()) {
        VisitHalvex(SendBtn);
        close();
        return;
    }
    if (SMTP1->State() != short(ConnState::Connected)) {
        ErrorBox(QStringLiteral("Not connected to SMTP server"));
        return;
    }
    // A second press while this one still waits would reset the flags the
    // first send reports by; it is ignored until that send has ended.
    if (FSending)
        return;
    FAddressVerified = false;
    FSmtpFailed = false;
    // Sign-in, where the server asks for it, uses the account of the
    // Connect To page (the password is typed after start-up).
    SMTP1->SetUserId(eUserName->text().isEmpty() ? eHomeAddr->text() : eUserName->text());
    SMTP1->SetPassword(ePassword->text());
    QString recipients = eTo->text();
    if (!eCC->text().isEmpty())
        recipients += QStringLiteral(", ") + eCC->text();
    SMTP1->Verify(recipients);

    // The check, and the send it sets off, run while we pump events here.
    const QPointer<TMailForm> self(this);
    FSending = true;
    while (self && SMTP1->Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!self)
        return;
    FSending = false;
    if (FClosed)
        return;

    if (!FAddressVerified) {
        ErrorBox(QStringLiteral("Incorrect address format"));
        return;
    }
    if (cbSendFile->isChecked())
        SendMessageFile(OpenDialog.FileName);
}

void TMailForm::cbSendFileClick(QObject *)
{
    if (cbSendFile->isChecked()) {
        if (OpenDialog.Execute(this))
            cbSendFile->setText(cbSendFile->text() + QStringLiteral(": ") + OpenDialog.FileName);
        else
            cbSendFile->setChecked(false); // runs this handler again
    } else {
        cbSendFile->setText(QStringLiteral("&Attach Text File"));
    }
}

void TMailForm::SMTP1Verify(QObject *)
{
    SendMessageText();
    FAddressVerified = true;
}

void TMailForm::BuildHeaders()
{
    SMTP1->DocInput()->Headers().Clear();
    SMTP1->DocInput()->Headers().Add(QStringLiteral("To"), eTo->text());
    SMTP1->DocInput()->Headers().Add(QStringLiteral("From"), eHomeAddr->text());
    SMTP1->DocInput()->Headers().Add(QStringLiteral("CC"), eCC->text());
    SMTP1->DocInput()->Headers().Add(QStringLiteral("Subject"), eSubject->text());
    SMTP1->DocInput()->Headers().Add(QStringLiteral("Message-Id"),
                                     MakeMessageId(ApplicationTitle(), eHomeAddr->text()));
    SMTP1->DocInput()->Headers().Add(QStringLiteral("Content-Type"),
                                     QStringLiteral("TEXT/PLAIN; charset=US-ASCII"));
}

void TMailForm::SendMessageText()
{
    BuildHeaders();
    SMTP1->SendDoc(SMTP1->DocInput()->Headers(), reMessageText->toPlainText(), QString());
}

void TMailForm::SendMessageFile(const QString &FileName)
{
    BuildHeaders();
    SMTP1->DocInput()->SetFileName(FileName);
    SMTP1->SendDoc(SMTP1->DocInput()->Headers(), std::nullopt, SMTP1->DocInput()->FileName());
}

void TMailForm::SMTP1DocInput(QObject *, TDocInput *DocInput)
{
    const QString text = SendProgressText(DocInput->State(), DocInput->BytesTotal(), DocInput->BytesTransferred(),
                                          FSmtpFailed, eTo->text(), SMTPStatus->text());
    // Data progress comes for every quarter megabyte and the event loop runs
    // between chunks: it is painted with the window's next paint. Painting
    // each at once took as much processor time as sending the file itself.
    if (DocInput->State() == short(DocState::Data))
        SMTPStatus->setText(text);
    else
        SMTPStatus->SetSimpleText(text);
}
