// The SMTP session: connecting, disconnecting, and its states on the window.
#include "mailform.h"

void TMailForm::eSMTPServerChange(QObject *)
{
}

void TMailForm::SMTPConnectBtnClick(QObject *)
{
}

void TMailForm::SMTP1StateChanged(QObject *, short)
{
}
