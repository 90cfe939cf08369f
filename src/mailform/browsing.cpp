// Browsing the mailbox and showing the retrieved message.
#include "mailform.h"

void TMailForm::POP1RefreshMessageCount(QObject *, qint32)
{
}

void TMailForm::udCurMessageClick(QObject *, TUDBtnType)
{
}

void TMailForm::POP1DocOutput(QObject *, TDocOutput *)
{
}
