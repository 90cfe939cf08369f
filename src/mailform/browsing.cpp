// Browsing the mailbox and showing the retrieved message.
#include "label.h"
#include "mailform.h"
#include "progresstexts.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>

namespace {

// The up-down is 16-bit: a larger mailbox is browsable up to message
// 32767, while the count label still shows the true number.
short ClampToUpDown(qint32 count)
{
    return short(std::clamp<qint32>(count, std::numeric_limits<short>::min(),
                                    std::numeric_limits<short>::max()));
}

// The view's document pays for every paragraph (block) inserted, and lays
// out a visible paragraph again whole on every change to it. So lines are
// grouped into paragraphs of about a screenful, joined by line separators
// (shown and copied as line breaks), and a line so long that laying it out
// again for each chunk would stall the window is broken into paragraphs,
// after a space where there is one.
constexpr qsizetype kParagraphChars = 1024;
constexpr qsizetype kLongLineChars = 8192;
constexpr qsizetype kNoSpaceSlack = 1024;

// Text with '\n' line ends as the view takes it, continuing a last paragraph
// of paragraphChars characters whose last line has lineChars.
QString ViewParagraphs(const QString &text, qsizetype paragraphChars, qsizetype lineChars)
{
    QString out;
    out.reserve(text.size() + text.size() / kLongLineChars + 1);
    const QChar *p = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), i);
        if (end < 0)
            end = n;
        // The line's characters, broken where it grows too long.
        while (lineChars + (end - i) > kLongLineChars) {
            qsizetype cut = i + qMax<qsizetype>(0, kLongLineChars - lineChars);
            const qsizetype last = qMin(end, i + qMax<qsizetype>(0, kLongLineChars + kNoSpaceSlack - lineChars));
            while (cut < last && p[cut] != QLatin1Char(' '))
                ++cut;
            if (cut < end && p[cut] == QLatin1Char(' ')) {
                ++cut; // the space stays on the first part
            } else if (cut >= end) {
                break; // the line ends before a break is due
            } else {
                // No space near: never between the halves of a surrogate
                // pair or before a combining mark.
                while (cut > i && (p[cut].isLowSurrogate() || p[cut].isMark()))
                    --cut;
                if (cut == i)
                    cut = last;
            }
            out.append(p + i, cut - i);
            out += QLatin1Char('\n');
            i = cut;
            paragraphChars = lineChars = 0;
        }
        out.append(p + i, end - i);
        paragraphChars += end - i;
        lineChars += end - i;
        if (end == n)
            break;
        if (paragraphChars >= kParagraphChars) {
            out += QLatin1Char('\n');
            paragraphChars = 0;
        } else {
            out += QChar(QChar::LineSeparator);
            ++paragraphChars;
        }
        lineChars = 0;
        i = end + 1;
    }
    return out;
}

void AppendToView(QPlainTextEdit *view, const QString &text)
{
    // Appended through a cursor at the end: the cost follows the new text,
    // not what the view already holds, and the user's caret stays put.
    QTextDocument *doc = view->document();
    const QString last = doc->lastBlock().text();
    const QString viewText = ViewParagraphs(text, last.size(),
                                            last.size() - last.lastIndexOf(QChar(QChar::LineSeparator)) - 1);
    // The received text is not the user's edit: nothing to undo.
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(viewText);
    doc->setUndoRedoEnabled(undo);
}

// Mail lines end in CR LF; the view wants one line break per line. A CR
// that ends a chunk is the first half of a line end split between chunks.
QString ViewLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

void TMailForm::POP1RefreshMessageCount(QObject *, qint32 Number)
{
    udCurMessage->SetMax(ClampToUpDown(Number));
    udCurMessage->setEnabled(Number != 0);
    lMessageCount->SetCaption(QString::number(Number));
    if (Number > 0) {
        udCurMessage->SetMin(1);
        udCurMessage->SetPosition(1);
        POP1->RetrieveMessage(udCurMessage->Position());
    }
}

void TMailForm::udCurMessageClick(QObject *, TUDBtnType)
{
    if (POP1->State() != short(ConnState::Connected) ||
        POP1->ProtocolState() != short(PopProtocolState::Transaction))
        return;
    FPopFailed = false;
    mReadMessage->clear();
    POP1->RetrieveMessage(udCurMessage->Position());
}

void TMailForm::POP1DocOutput(QObject *, TDocOutput *DocOutput)
{
    const short state = DocOutput->State();
    POPStatus->SetSimpleText(
        RetrieveProgressText(state, DocOutput->BytesTransferred(), FPopFailed, POPStatus->text()));
    if (state == short(DocState::Headers)) {
        QString lines;
        const qint32 count = DocOutput->Headers()->Count();
        for (qint32 i = 1; i <= count; ++i) {
            lines += DocOutput->Headers()->Item(OleVariant(i))->Name() + QStringLiteral(": ") +
                     DocOutput->Headers()->Item(OleVariant(i))->Value() + QLatin1Char('\n');
        }
        AppendToView(mReadMessage, lines);
    } else if (state == short(DocState::Data)) {
        AppendToView(mReadMessage, ViewLines(DocOutput->GetData()));
    }
}
