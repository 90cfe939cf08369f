// The POP session: connecting, logging in, disconnecting.
#include "mailform.h"
#include "progresstexts.h"

void TMailForm::ePOPServerChange(QObject *)
{
    POPConnectBtn->setEnabled(!ePOPServer->text().isEmpty() && !eUserName->text().isEmpty() &&
                              !ePassword->text().isEmpty());
}

void TMailForm::POPConnectBtnClick(QObject *)
{
    const auto state = ConnState(POP1->State());
    if (state == ConnState::Connected && POP1->ProtocolState() == short(PopProtocolState::Transaction)) {
        // Also while a message is arriving: a server that trickles it must
        // not keep the user from leaving. The retrieval ends as aborted.
        mReadMessage->clear();
        POP1->Quit();
    } else if (state == ConnState::Disconnected) {
        // The credentials are taken now; later edits do not change this login.
        POP1->SetRemoteHost(ePOPServer->text());
        POP1->SetUserId(eUserName->text());
        POP1->SetPassword(ePassword->text());
        POP1->Connect();
    }
    // Otherwise a connection is being made or a login is under way:
    // nothing to do.
}

void TMailForm::POP1StateChanged(QObject *, short State)
{
    ConnectStatus->SetSimpleText(
        SessionStateText(QStringLiteral("POP"), State, POP1->RemoteHost(), ConnectStatus->text()));
    if (State == short(ConnState::Connected))
        POPConnectBtn->setText(QStringLiteral("Disconnect"));
    else if (State == short(ConnState::Disconnected)) {
        POPConnectBtn->setText(QStringLiteral("Connect"));
        FStepPending = false;
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
        POP1->Authenticate(userId, password);
        break;
    }
    case PopProtocolState::Transaction:
        ConnectStatus->SetSimpleText(QStringLiteral("User %1 authorized on server %2")
                                         .arg(eUserName->text(), ePOPServer->text()));
        break;
    default: // any other value: nothing
        break;
    }
}
