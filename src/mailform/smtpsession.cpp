// The SMTP session: connecting, disconnecting, and its states on the window.
#include "label.h"
#include "mailform.h"

void TMailForm::eSMTPServerChange(QObject *)
{
    SMTPConnectBtn->setEnabled(!eSMTPServer->text().isEmpty() && !eHomeAddr->text().isEmpty());
}

void TMailForm::ConnectSmtp()
{
    SMTP1->SetRemoteHost(eSMTPServer->text());
    FSmtpFailed = false;
    SMTP1->Connect(OleVariant::Omitted(), OleVariant::Omitted());
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
    const QString host = SMTP1->RemoteHost();
    switch (ConnState(State)) {
    case ConnState::Connecting:
        ConnectStatus->SetSimpleText(QStringLiteral("Connecting to SMTP server: ") + host + QStringLiteral("..."));
        break;
    case ConnState::Resolving:
        ConnectStatus->SetSimpleText(QStringLiteral("Resolving Host"));
        break;
    case ConnState::Resolved:
        ConnectStatus->SetSimpleText(QStringLiteral("Host Resolved"));
        break;
    case ConnState::Connected:
        ConnectStatus->SetSimpleText(QStringLiteral("Connected to SMTP server: ") + host);
        SMTPConnectBtn->setText(QStringLiteral("Disconnect"));
        break;
    case ConnState::Disconnecting:
        ConnectStatus->SetSimpleText(QStringLiteral("Disconnecting from SMTP server: ") + host + QStringLiteral("..."));
        break;
    case ConnState::Disconnected:
        ConnectStatus->SetSimpleText(QStringLiteral("Disconnected from SMTP server: ") + host);
        SMTPConnectBtn->setText(QStringLiteral("Connect"));
        break;
    }
    const bool connected = State == short(ConnState::Connected);
    eSMTPServer->setEnabled(!connected);
    eHomeAddr->setEnabled(!connected);
    LedImage->setVisible(connected);
}
