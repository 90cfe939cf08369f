#include "messagefile.h"
#include "exceptions.h"

#include <QFile>
#include <QTextEdit>

void LoadMessageFile(QTextEdit *editor, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file %1").arg(fileName));
    editor->setPlainText(QString::fromUtf8(file.readAll()));
}
