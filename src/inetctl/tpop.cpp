#include "tpop.h"
#include "eoleexception.h"

QString toString(PopProtocolState state)
{
    switch (state) {
    case PopProtocolState::Authorization: return QStringLiteral("Authorization");
    case PopProtocolState::Transaction: return QStringLiteral("Transaction");
    }
    return QStringLiteral("PopProtocolState(%1)").arg(short(state));
}

TPOP::TPOP(QWidget *parent) : TInternetControl(110, parent), m_docOutput(new TDocOutput(this)) {}

TPOP::~TPOP() = default;

void TPOP::Connect(const OleVariant &, const OleVariant &)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("POP engine not available"));
}

void TPOP::Quit() {}

void TPOP::Authenticate(const OleVariant &, const OleVariant &)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("POP engine not available"));
}

void TPOP::RetrieveMessage(short)
{
    throw EOleException(EOleException::E_Fail, QStringLiteral("POP engine not available"));
}
