// The settings file "Orvmail.cfg" in the working directory.
#include "mailform.h"

bool TMailForm::LoadSettings()
{
    return true;
}

void TMailForm::SaveSettings(QObject *)
{
}
