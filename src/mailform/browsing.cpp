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
        const qint32 count = DocOutput->Headers().Count();
        for (qint32 i = 1; i <= count; ++i)
            lines += DocOutput->Headers().Item(i).Name() + QStringLiteral(": ") + DocOutput->Headers().Item(i).Value() +
                     QLatin1Char('\n');
        mReadMessage->AppendReceived(lines);
    } else if (state == short(DocState::Data)) {
        mReadMessage->AppendReceived(DocOutput->GetData());
    }
}
