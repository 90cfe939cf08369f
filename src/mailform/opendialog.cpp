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
    FileName = QDir::toNativeSeparators(QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath());
    // Choosing a file moves the working directory to its folder, as the
    // system dialog does; Save Settings takes the directory anew for that.
    QDir::setCurrent(QFileInfo(FileName).absolutePath());
    return true;
}
