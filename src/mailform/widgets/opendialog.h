#pragma once
#include <QString>

class QWidget;

// The open-file dialog for the text file to attach: one filter, the chosen
// file must exist, and it remembers the last file chosen.
class TOpenDialog {
public:
    QString FileName;
    QString Filter = QStringLiteral("Text Files (*.txt)");
    // Runs the dialog modally; true when the user picked a file.
    bool Execute(QWidget *parent);
};
