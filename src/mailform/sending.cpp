// Composing and sending a message.
#include "mailform.h"

void TMailForm::SendBtnClick(QObject *)
{
    if (!SendGatePasses()) {
        VisitHalvex(SendBtn);
        close();
        return;
    }
}

void TMailForm::cbSendFileClick(QObject *)
{
}

void TMailForm::SMTP1Verify(QObject *)
{
}

void TMailForm::SMTP1DocInput(QObject *, TDocInput *)
{
}

void TMailForm::BuildHeaders()
{
}

void TMailForm::SendMessageText()
{
}

void TMailForm::SendMessageFile(const QString &)
{
}
