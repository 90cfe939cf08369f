#include "shellexec.h"

#include <QDesktopServices>
#include <QUrl>

void ExecuteFile(const QString &fileName, const QString &params, const QString &defaultDir,
                 int showCmd, QWidget *owner)
{
    // The desktop takes an address whole; parameters, folder, show command
    // and owner have no meaning for an address opened this way.
    Q_UNUSED(params);
    Q_UNUSED(defaultDir);
    Q_UNUSED(showCmd);
    Q_UNUSED(owner);
    QDesktopServices::openUrl(QUrl::fromUserInput(fileName));
}
