// Errors raised by the client controls, shown in the "Error" box.
#include "mailform.h"

void TMailForm::SMTP1Error(QObject *, short, QString &, qint32, const QString &, const QString &,
                           qint32, bool &)
{
}

void TMailForm::POP1Error(QObject *, short, QString &, qint32, const QString &, const QString &,
                          qint32, bool &)
{
}
