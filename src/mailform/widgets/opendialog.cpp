#include "opendialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

bool TOpenDialog::Execute(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(Filter);
    // Our own dialog, the same on every desktop and drivable in tests.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    // The working directory stays where it is: settings saved later must
    // land where they are read at the next start.
    FileName = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    return true;
}
