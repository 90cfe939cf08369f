// The settings file "Orvmail.cfg" in the working directory: two lines, the
// SMTP server and return address, then the POP server and user name, each
// pair split at its first comma. The POP password is never stored.
#include "mailform.h"
#include "textfile.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString SettingsName = QStringLiteral("Orvmail.cfg");
// Longest return address or user name taken from the file.
constexpr qsizetype MaxSecondField = 80;

struct Fields {
    QString first;
    QString second;
};

Fields Split(const QString &line)
{
    const qsizetype comma = line.indexOf(QLatin1Char(','));
    return {comma < 0 ? QString() : line.left(comma), line.mid(comma + 1, MaxSecondField)};
}

} // namespace

bool TMailForm::LoadSettings()
{
    // Only a file counts: a folder of that name is no settings file.
    if (!QFileInfo(SettingsName).isFile())
        return true;
    TextFile::LineReader file(WorkDir + QLatin1Char('/') + SettingsName);

    const QString line1 = TextFile::Decode(file.ReadLine());
    if (line1.isEmpty()) {
        file.Close();
        return false;
    }
    const Fields smtp = Split(line1);
    eSMTPServer->setText(smtp.first);
    eHomeAddr->setText(smtp.second);
    if (SMTP1->State() == short(ConnState::Disconnected))
        ConnectSmtp();

    const QString line2 = TextFile::Decode(file.ReadLine());
    if (line2.isEmpty()) {
        file.Close();
        return false;
    }
    const Fields pop = Split(line2);
    ePOPServer->setText(pop.first);
    eUserName->setText(pop.second);
    POPConnectBtn->setEnabled(true);
    file.Close();
    return true;
}

void TMailForm::SaveSettings(QObject *)
{
    WorkDir = QDir::currentPath();
    const QString text = eSMTPServer->text() + QLatin1Char(',') + eHomeAddr->text() + QStringLiteral("\r\n") +
                         ePOPServer->text() + QLatin1Char(',') + eUserName->text() + QStringLiteral("\r\n");
    TextFile::ReplaceAtomically(WorkDir + QLatin1Char('/') + SettingsName, text.toUtf8());
}
