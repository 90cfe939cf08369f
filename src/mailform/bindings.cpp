// The window's event bindings: which handler serves which control's event.
// Each handler runs under the guard, so an error it raises is shown by the
// application's exception handler and never reaches Qt.
#include "apphandler.h"
#include "mailform.h"

#include <QCheckBox>
#include <QLineEdit>

void TMailForm::BindHandlers()
{
    auto onClick = [this](QAbstractButton *button, void (TMailForm::*handler)(QObject *)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button, handler] { Guarded([&] { (this->*handler)(button); }); });
    };
    auto onChange = [this](QLineEdit *edit, void (TMailForm::*handler)(QObject *)) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, edit, handler] { Guarded([&] { (this->*handler)(edit); }); });
    };

    onClick(SendBtn, &TMailForm::SendBtnClick);
    onClick(ClearBtn, &TMailForm::ClearBtnClick);
    onClick(QuitBtn, &TMailForm::QuitBtnClick);
    onClick(BitBtn2, &TMailForm::QuitBtnClick);
    onClick(BitBtn1, &TMailForm::QuitBtnClick);
    onClick(SMTPConnectBtn, &TMailForm::SMTPConnectBtnClick);
    onClick(POPConnectBtn, &TMailForm::POPConnectBtnClick);
    onClick(SaveBtn, &TMailForm::SaveSettings);
    // Any change of the box, by the user or by a handler, is its click.
    connect(cbSendFile, &QCheckBox::toggled, this,
            [this] { Guarded([&] { cbSendFileClick(cbSendFile); }); });
    connect(udCurMessage, &TUpDown::clicked, this,
            [this](TUDBtnType button) { Guarded([&] { udCurMessageClick(udCurMessage, button); }); });
    connect(HalvexImage, &TImage::clicked, this, [this] { Guarded([&] { VisitHalvex(HalvexImage); }); });

    onChange(eSMTPServer, &TMailForm::eSMTPServerChange);
    onChange(eHomeAddr, &TMailForm::eSMTPServerChange);
    onChange(ePOPServer, &TMailForm::ePOPServerChange);
    onChange(eUserName, &TMailForm::ePOPServerChange);
    onChange(ePassword, &TMailForm::ePOPServerChange);

    SMTP1->SetCertificateDecider(this);
    POP1->SetCertificateDecider(this);

    // The controls' events: direct connections, so that by-reference
    // arguments written by a handler reach the control.
    connect(SMTP1, &TInternetControl::OnError, this,
            [this](short number, const QString &description, bool &cancelDisplay) {
                Guarded([&] { SMTP1Error(SMTP1, number, description, cancelDisplay); });
            }, Qt::DirectConnection);
    connect(SMTP1, &TInternetControl::OnStateChanged, this,
            [this](short state) { Guarded([&] { SMTP1StateChanged(SMTP1, state); }); },
            Qt::DirectConnection);
    connect(SMTP1, &TSMTP::OnDocInput, this,
            [this](TDocInput *doc) { Guarded([&] { SMTP1DocInput(SMTP1, doc); }); },
            Qt::DirectConnection);
    connect(SMTP1, &TSMTP::OnVerify, this, [this] { Guarded([&] { SMTP1Verify(SMTP1); }); },
            Qt::DirectConnection);

    connect(POP1, &TInternetControl::OnError, this,
            [this](short number, const QString &description, bool &cancelDisplay) {
                Guarded([&] { POP1Error(POP1, number, description, cancelDisplay); });
            }, Qt::DirectConnection);
    connect(POP1, &TInternetControl::OnStateChanged, this,
            [this](short state) { Guarded([&] { POP1StateChanged(POP1, state); }); },
            Qt::DirectConnection);
    connect(POP1, &TPOP::OnProtocolStateChanged, this,
            [this](short state) { Guarded([&] { POP1ProtocolStateChanged(POP1, state); }); },
            Qt::DirectConnection);
    connect(POP1, &TPOP::OnDocOutput, this,
            [this](TDocOutput *doc) { Guarded([&] { POP1DocOutput(POP1, doc); }); },
            Qt::DirectConnection);
    connect(POP1, &TPOP::OnRefreshMessageCount, this,
            [this](qint32 number) { Guarded([&] { POP1RefreshMessageCount(POP1, number); }); },
            Qt::DirectConnection);
}
