#include "tsmtp.h"
#include "eoleexception.h"

TSMTP::TSMTP(QWidget *parent) : TInternetControl(25, parent), m_docInput(new TDocInput(this)) {}

TSMTP::~TSMTP() = default;

void TSMTP::Connect(const OleVariant &, const OleVariant &)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("SMTP engine not available"));
}

void TSMTP::Quit() {}

void TSMTP::Verify(const OleVariant &)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("SMTP engine not available"));
}

void TSMTP::SendDoc(const OleVariant &, const OleVariant &, const OleVariant &, const OleVariant &,
                    const OleVariant &)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("SMTP engine not available"));
}
