// The POP session: connecting, logging in, disconnecting.
#include "mailform.h"

void TMailForm::ePOPServerChange(QObject *)
{
}

void TMailForm::POPConnectBtnClick(QObject *)
{
}

void TMailForm::POP1StateChanged(QObject *, short)
{
}

void TMailForm::POP1ProtocolStateChanged(QObject *, short)
{
}
