// Browsing the mailbox and showing the retrieved message.
#include "label.h"
#include "mailform.h"
#include "progresstexts.h"

#include <QPlainTextEdit>
#include <QTextCursor>

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

void AppendToView(QPlainTextEdit *view, const QString &text)
{
    // Appended through a cursor at the end: the cost follows the new text,
    // not what the view already holds, and the user's caret stays put.
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
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

QString RetrieveProgressText(short state, qint32 transferred, bool failed, const QString &current)
{
    switch (DocState(state)) {
    case DocState::Begin:
        return QStringLiteral("Initiating document transfer");
    case DocState::Headers:
        return QStringLiteral("Retrieving headers");
    case DocState::Data:
        return QStringLiteral("Retrieving data - %1 bytes").arg(transferred);
    case DocState::End:
        if (failed)
            return QStringLiteral("Transfer aborted");
        return QStringLiteral("Retrieval complete (%1 bytes data)").arg(transferred);
    }
    return current;
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
