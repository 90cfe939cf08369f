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

QString SessionStateText(const QString &kind, short state, const QString &host, const QString &current)
{
    const QString server = kind + QStringLiteral(" server: ");
    switch (ConnState(state)) {
    case ConnState::Connecting:
        return QStringLiteral("Connecting to ") + server + host + QStringLiteral("...");
    case ConnState::Resolving:
        return QStringLiteral("Resolving Host");
    case ConnState::Resolved:
        return QStringLiteral("Host Resolved");
    case ConnState::Connected:
        return QStringLiteral("Connected to ") + server + host;
    case ConnState::Disconnecting:
        return QStringLiteral("Disconnecting from ") + server + host + QStringLiteral("...");
    case ConnState::Disconnected:
        return QStringLiteral("Disconnected from ") + server + host;
    }
    return current;
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
