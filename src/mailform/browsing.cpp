// Browsing the mailbox and showing the retrieved message.
#include "label.h"
#include "mailform.h"
#include "progresstexts.h"

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

// Once the text of a message was cut, its status says so to the end.
QString CutProgressText(short state, qint32 transferred, bool failed, const QString &current)
{
    const QString text = RetrieveProgressText(state, transferred, failed, current);
    if (failed || (state != short(DocState::Data) && state != short(DocState::End)))
        return text;
    return text + QStringLiteral(" - the rest of the message is not shown");
}

} // namespace

void TMailForm::POP1RefreshMessageCount(QObject *, qint32 Number)
{
    udCurMessage->SetMax(ClampToUpDown(Number));
    udCurMessage->setEnabled(Number != 0);
    lMessageCount->SetCaption(QString::number(Number));
    FStepPending = false;
    if (Number > 0) {
        udCurMessage->SetMin(1);
        udCurMessage->SetPosition(1);
        // A new session: what an earlier one left in the view, or its
        // failure, is not this message's.
        mReadMessage->clear();
        FPopFailed = false;
        POP1->RetrieveMessage(udCurMessage->Position());
    }
}

void TMailForm::udCurMessageClick(QObject *, TUDBtnType)
{
    if (POP1->State() != short(ConnState::Connected) ||
        POP1->ProtocolState() != short(PopProtocolState::Transaction))
        return;
    mReadMessage->clear();
    if (POP1->Busy()) {
        // POP3 cannot stop a retrieval short of closing the session: the rest
        // of the message under way is read but not shown, then the message
        // the number names by then is retrieved.
        FStepPending = true;
        return;
    }
    FPopFailed = false;
    POP1->RetrieveMessage(udCurMessage->Position());
}

void TMailForm::POP1DocOutput(QObject *, TDocOutput *DocOutput)
{
    const short state = DocOutput->State();
    if (FStepPending) {
        if (state != short(DocState::End))
            return; // the message the number named before
        FStepPending = false;
        // Still busy, the session is ending: what follows tells why.
        if (!POP1->Busy()) {
            FPopFailed = false;
            POP1->RetrieveMessage(udCurMessage->Position());
            return;
        }
    }
    POPStatus->SetSimpleText((POP1->MessageCut() ? CutProgressText : RetrieveProgressText)(
        state, DocOutput->BytesTransferred(), FPopFailed, POPStatus->text()));
    if (state == short(DocState::Headers)) {
        QString lines;
        const qint32 count = DocOutput->Headers().Count();
        for (qint32 i = 1; i <= count; ++i)
            lines += DocOutput->Headers().Item(i).Name() + QStringLiteral(": ") + DocOutput->Headers().Item(i).Value() +
                     QLatin1Char('\n');
        mReadMessage->AppendReceived(lines);
    } else if (state == short(DocState::Data)) {
        mReadMessage->AppendReceived(DocOutput->GetData());
    }
}
