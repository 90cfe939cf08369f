// Errors raised by the client controls, shown in the "Error" box.
#include "mailform.h"

#include <QMessageBox>

namespace {

bool IsBlank(QChar c) { return c.unicode() <= 32; }

QString TrimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// The control's error list, each item "\r(description)". Every item is
// kept: a server's multi-line reply must not lose its first lines.
QString ExtraText(const TErrors &errors)
{
    QString extra;
    const qint32 count = errors.Count();
    for (qint32 i = 1; i <= count; ++i)
        extra += QStringLiteral("\r(") + errors.Item(i).Description() + QLatin1Char(')');
    return TrimBlanks(extra);
}

QString ErrorText(short number, const QString &description, const QString &extra)
{
    return QString::number(number) + QStringLiteral(" - ") + description + extra;
}

} // namespace

void TMailForm::ErrorBox(const QString &text)
{
    // A carriage return in the text starts a new line in the box.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), shown, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TMailForm::SMTP1Error(QObject *, short Number, const QString &Description, bool &CancelDisplay)
{
    FSmtpFailed = true;
    LedImage->hide();
    CancelDisplay = true;
    const QString extra = ExtraText(SMTP1->Errors());
    if (Number == 1003)
        ErrorBox(QStringLiteral("Could not establish a connection: Check for dial-up errors."));
    else
        ErrorBox(ErrorText(Number, Description, extra));
}

void TMailForm::POP1Error(QObject *, short Number, const QString &Description, bool &CancelDisplay)
{
    FPopFailed = true;
    CancelDisplay = true;
    if (POP1->ProtocolState() == short(PopProtocolState::Authorization))
        ConnectStatus->SetSimpleText(QStringLiteral("Authorization error"));
    const QString extra = ExtraText(POP1->Errors());
    ErrorBox(ErrorText(Number, Description, extra));
}
