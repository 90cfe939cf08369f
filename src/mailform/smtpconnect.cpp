// The SMTP session: connecting, disconnecting, and its states on the window.
#include "mailform.h"
#include "progresstexts.h"

void TMailForm::eSMTPServerChange(QObject *)
{
    SMTPConnectBtn->setEnabled(!eSMTPServer->text().isEmpty() && !eHomeAddr->text().isEmpty());
}

void TMailForm::ConnectSmtp()
{
    SMTP1->SetRemoteHost(eSMTPServer->text());
    FSmtpFailed = false;
    SMTP1->Connect();
}

void TMailForm::SMTPConnectBtnClick(QObject *)
{
    switch (ConnState(SMTP1->State())) {
    case ConnState::Connected:
        SMTP1->Quit();
        break;
    case ConnState::Disconnected:
        ConnectSmtp();
        break;
    default: // a connection or disconnection is under way
        break;
    }
}

void TMailForm::SMTP1StateChanged(QObject *, short State)
{
    ConnectStatus->SetSimpleText(
        SessionStateText(QStringLiteral("SMTP"), State, SMTP1->RemoteHost(), ConnectStatus->text()));
    if (State == short(ConnState::Connected))
        SMTPConnectBtn->setText(QStringLiteral("Disconnect"));
    else if (State == short(ConnState::Disconnected))
        SMTPConnectBtn->setText(QStringLiteral("Connect"));
    const bool connected = State == short(ConnState::Connected);
    eSMTPServer->setEnabled(!connected);
    eHomeAddr->setEnabled(!connected);
    LedImage->setVisible(connected);
}
