#pragma once
#include <QString>

class QTextDocument;

// Loads a message file into an editor's document, replacing its text: as
// rich text when the file is RTF, else as plain text.
void LoadMessageFile(QTextDocument *document, const QString &fileName);
