#include "messagefile.h"
#include "exceptions.h"
#include "rtfreader.h"
#include "textfile.h"

#include <QFile>
#include <QTextEdit>

void LoadMessageFile(QTextEdit *editor, const QString &fileName)
{
    QByteArray bytes;
    try {
        bytes = TextFile::ReadAll(fileName);
    } catch (const EInOutError &) {
        throw Exception(QStringLiteral("Cannot open file %1").arg(fileName));
    }
    if (LooksLikeRtf(bytes) && ReadRtf(bytes, editor->document()))
        return;
    // Not readable as rich text: read it again as plain text. A NUL byte is
    // no part of any text, so such a file is no message either.
    if (bytes.contains('\0'))
        throw Exception(QStringLiteral("Failed to Load Stream"));
    editor->setPlainText(TextFile::Decode(bytes));
}
