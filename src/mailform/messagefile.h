#pragma once
#include <QString>

class QTextEdit;

// Loads a message file into the editor, replacing its text: as rich text
// when the file is RTF, else as plain text.
void LoadMessageFile(QTextEdit *editor, const QString &fileName);
