// The POP session: connecting, logging in, disconnecting.
#include "mailform.h"

void TMailForm::ePOPServerChange(QObject *)
{
    POPConnectBtn->setEnabled(!ePOPServer->text().isEmpty() && !eUserName->text().isEmpty() &&
                              !ePassword->text().isEmpty());
}

void TMailForm::POPConnectBtnClick(QObject *)
{
    const auto state = ConnState(POP1->State());
    if (state == ConnState::Connected &&
        POP1->ProtocolState() == short(PopProtocolState::Transaction) && !POP1->Busy()) {
        mReadMessage->clear();
        POP1->Quit();
    } else if (state == ConnState::Disconnected) {
        // The credentials are taken now; later edits do not change this login.
        POP1->SetRemoteHost(ePOPServer->text());
        POP1->SetUserId(eUserName->text());
        POP1->SetPassword(ePassword->text());
        POP1->Connect(OleVariant::Omitted(), OleVariant::Omitted());
    }
    // Otherwise a connection is being made, a login or a retrieval is
    // under way: nothing to do.
}

void TMailForm::POP1StateChanged(QObject *, short State)
{
    const QString host = POP1->RemoteHost();
    switch (ConnState(State)) {
    case ConnState::Connecting:
        ConnectStatus->SetSimpleText(QStringLiteral("Connecting to POP server: ") + host + QStringLiteral("..."));
        break;
    case ConnState::Resolving:
        ConnectStatus->SetSimpleText(QStringLiteral("Resolving Host"));
        break;
    case ConnState::Resolved:
        ConnectStatus->SetSimpleText(QStringLiteral("Host Resolved"));
        break;
    case ConnState::Connected:
        ConnectStatus->SetSimpleText(QStringLiteral("Connected to POP server: ") + host);
        POPConnectBtn->setText(QStringLiteral("Disconnect"));
        break;
    case ConnState::Disconnecting:
        ConnectStatus->SetSimpleText(QStringLiteral("Disconnecting from POP server: ") + host + QStringLiteral("..."));
        break;
    case ConnState::Disconnected:
        ConnectStatus->SetSimpleText(QStringLiteral("Disconnected from POP server: ") + host);
        POPConnectBtn->setText(QStringLiteral("Connect"));
        break;
    }
    const bool connected = State == short(ConnState::Connected);
    ePOPServer->setEnabled(!connected);
    eUserName->setEnabled(!connected);
    ePassword->setEnabled(!connected);
}

void TMailForm::POP1ProtocolStateChanged(QObject *, short ProtocolState)
{
    switch (PopProtocolState(ProtocolState)) {
    case PopProtocolState::Authorization: {
        // The login uses what the control was given at Connect.
        const QString password = POP1->Password();
        const QString userId = POP1->UserId();
        POP1->Authenticate(OleVariant(userId), OleVariant(password));
        break;
    }
    case PopProtocolState::Transaction:
        ConnectStatus->SetSimpleText(QStringLiteral("User %1 authorized on server %2")
                                         .arg(eUserName->text(), ePOPServer->text()));
        break;
    }
}
