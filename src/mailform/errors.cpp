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

// What the box shows of a long text (a server may answer with hundreds of
// long lines): the box grows with its text, and past these it would reach
// beyond a 768-pixel screen, its OK button out of reach, after seconds of
// laying out text nobody sees. The whole text is the box's detailed text.
// Lines shown, counted before wrapping.
constexpr qsizetype kMaxShownLines = 20;
// Characters shown, all lines together: at the box's narrowest (half a
// screen) they wrap to about 20 more lines.
constexpr qsizetype kMaxShownChars = 1200;
// The box is as wide as the longest run without a blank; a longer run of a
// cut text is broken, or the box would take the screen's whole width.
constexpr qsizetype kMaxShownRunChars = 64;

// The text itself when it is within the line and character limits; else
// its beginning, long runs broken, ending in an ellipsis.
QString ShownPart(const QString &text, bool *cut)
{
    *cut = text.size() > kMaxShownChars || text.count(QLatin1Char('\n')) >= kMaxShownLines;
    if (!*cut)
        return text;
    QString shown;
    qsizetype lines = 1;
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size() && shown.size() < kMaxShownChars; ++i) {
        const QChar c = text[i];
        const bool newLine = c == QLatin1Char('\n');
        if (newLine || (run >= kMaxShownRunChars && !c.isLowSurrogate())) {
            if (++lines > kMaxShownLines)
                break;
            shown += QLatin1Char('\n');
            run = 0;
            if (newLine)
                continue;
        }
        shown += c;
        run = c.isSpace() ? 0 : run + 1;
    }
    if (!shown.isEmpty() && shown.back().isHighSurrogate())
        shown.chop(1);
    return shown + QChar(0x2026); // ellipsis
}

} // namespace

void TMailForm::ErrorBox(const QString &text)
{
    // A carriage return in the text starts a new line in the box.
    QString full = text;
    full.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    bool cut = false;
    const QString shown = ShownPart(full, &cut);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), shown, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (cut)
        box.setDetailedText(full);
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
