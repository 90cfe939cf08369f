#include "messagefile.h"
#include "exceptions.h"
#include "rtfreader.h"
#include "textfile.h"

#include <QFile>
#include <QTextDocument>

void LoadMessageFile(QTextDocument *document, const QString &fileName)
{
    QByteArray bytes;
    try {
        bytes = TextFile::ReadAll(fileName);
    } catch (const EInOutError &) {
        throw Exception(QStringLiteral("Cannot open file %1").arg(fileName));
    }
    if (LooksLikeRtf(bytes) && ReadRtf(bytes, document))
        return;
    // Not readable as rich text: read it again as plain text. A NUL byte is
    // no part of any text, so such a file is no message either.
    if (bytes.contains('\0'))
        throw Exception(QStringLiteral("Failed to Load Stream"));
    document->setPlainText(TextFile::Decode(bytes));
}
