// Certificates that no known authority vouches for: the user decides.
#include "apphandler.h"
#include "certdialog.h"
#include "mailform.h"

bool TMailForm::TrustCertificate(const CertificateQuestion &question)
{
    bool trusted = false;
    Guarded([&] { trusted = TCertificateDialog::Ask(this, question); });
    return trusted;
}
