// The host program's hand-off (recipient and message file on the command
// line), the Send button's gate that depends on it, and the vendor page.
#include "apphandler.h"
#include "exceptions.h"
#include "mailform.h"
#include "messagefile.h"
#include "shellexec.h"
#include "textfile.h"

namespace {
const QString VendorPage = QStringLiteral("https://www.halvex.example/");
}

void TMailForm::ApplyHandOff()
{
    const qsizetype comma = MessageFileArg.indexOf(QLatin1Char(','));
    // Without a comma the recipient is empty and the file name drops the
    // argument's last character.
    eTo->setText(comma < 0 ? QString() : MessageFileArg.left(comma));
    MessageFileArg = MessageFileArg.mid(comma + 1, MessageFileArg.length() - 1);
    // A folder, FIFO or device of that name is no message file.
    if (!MessageFileArg.isEmpty() && TextFile::IsRegularFile(MessageFileArg)) {
        LoadMessageFile(reMessageText->document(), MessageFileArg);
    } else {
        MessageFileArg.clear();
        close();
    }
}

bool TMailForm::SendGatePasses()
{
    // Compared as bytes with " ": only a run that was handed a message file
    // may send.
    const QByteArray arg = MessageFileArg.toUtf8();
    return arg > QByteArrayLiteral(" ");
}

void TMailForm::VisitHalvex(QObject *)
{
    ExecuteFile(VendorPage, QString(), WorkDir, SW_SHOW, this);
}
