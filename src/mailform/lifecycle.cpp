// Creation, resizing and closing of the window, and the Quit and Clear buttons.
#include "align.h"
#include "apphandler.h"
#include "label.h"
#include "mailform.h"
#include "maskstyle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStyle>
#include <QCoreApplication>
#include <QDir>

static void InitArtwork()
{
    // The pictures live in a static library: register them before use.
    Q_INIT_RESOURCE(orvmail);
}

TMailForm::TMailForm(QWidget *parent) : QWidget(parent)
{
    InitArtwork();
    setupUi(this);
    // At 131, 46: not centred or cascaded.
    move(131, 46);
    udCurMessage->SetAssociate(eCurMessage);
    // Over whatever style the application has: nothing new to load.
    auto *maskStyle = new TMaskStyle;
    maskStyle->setParent(this);
    ePassword->setStyle(maskStyle);
    // Our font's metrics differ a little from those the window was laid out
    // with: let each label fit its caption.
    for (TLabel *label : findChildren<TLabel *>())
        label->AdjustToCaption();
    for (QWidget *container : std::initializer_list<QWidget *>{this, SendPage, RecvPage, ConPage, Panel3})
        KeepAligned(container);
    BindHandlers();
    Guarded([this] { FormCreate(this); });
    FCreating = false;
}

TMailForm::~TMailForm() = default;

void TMailForm::FormCreate(QObject *)
{
    FSmtpFailed = false;
    FPopFailed = false;
    LedImage->hide();
    MessageFileArg = QCoreApplication::arguments().value(1);
    WorkDir = QDir::currentPath();
    if (!LoadSettings())
        return;
    ApplyHandOff();
}

void TMailForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Guarded([this] { FormResize(this); });
}

void TMailForm::FormResize(QObject *)
{
    const int clientWidth = width();
    for (QWidget *button : std::initializer_list<QWidget *>{SendBtn, ClearBtn, QuitBtn})
        button->move(clientWidth - button->width() - 10, button->y());
    for (QWidget *edit : std::initializer_list<QWidget *>{eTo, eCC, eSubject})
        edit->resize(SendBtn->x() - edit->x() - 10, edit->height());
}

void TMailForm::closeEvent(QCloseEvent *event)
{
    // An error while ending a session is shown, but never keeps the user
    // from closing the window.
    Guarded([this] { FormClose(this); });
    // A close asked for during creation leaves the window to appear.
    if (!FCreating)
        FClosed = true;
    event->accept();
}

void TMailForm::FormClose(QObject *)
{
    if (POP1->State() == short(ConnState::Connected))
        POP1->Quit();
    if (SMTP1->State() == short(ConnState::Connected))
        SMTP1->Quit();
}

void TMailForm::QuitBtnClick(QObject *)
{
    close();
}

void TMailForm::ClearBtnClick(QObject *)
{
    eTo->setText(QString());
    eCC->setText(QString());
    eSubject->setText(QString());
    OpenDialog.FileName.clear();
    reMessageText->clear();
}

#include "moc_mailform.cpp"
