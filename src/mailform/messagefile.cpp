#include "messagefile.h"
#include "exceptions.h"
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
    // A NUL byte is no part of any text: such a file is not a message.
    if (bytes.contains('\0'))
        throw Exception(QStringLiteral("Failed to Load Stream"));
    editor->setPlainText(TextFile::Decode(bytes));
}
