// The settings file "Orvmail.cfg" in the working directory: two lines, the
// SMTP server and return address, then the POP server and user name, each
// pair split at its first comma. The POP password is never stored.
#include "mailform.h"
#include "textfile.h"

#include <QDir>
#include <QLineEdit>
#include <QValidator>

namespace {

const QString SettingsName = QStringLiteral("Orvmail.cfg");
// Longest return address or user name taken from the file.
constexpr qsizetype MaxSecondField = 80;
// Two short lines, though an overlong field is tolerated (and cut); a file
// beyond this is no settings file, and reading it would hold up the start.
constexpr qint64 MaxSettingsBytes = 1024 * 1024;

// A line break in a saved field would start a line of its own, which the
// next start reads as another server or user.
QString OneLine(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// Drops line breaks as they are typed or pasted, so that what the field
// shows is what is used and saved.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override
    {
        const qsizetype before = OneLine(input.left(pos)).size();
        if (input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n'))) {
            input = OneLine(input);
            pos = int(before);
        }
        return Acceptable;
    }
};

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
    for (QLineEdit *field : {eSMTPServer, eHomeAddr, ePOPServer, eUserName})
        if (!field->validator())
            field->setValidator(new OneLineValidator(field));
    // Only a regular file counts: a folder, FIFO or device of that name is
    // no settings file.
    if (!TextFile::IsRegularFile(SettingsName))
        return true;
    TextFile::LineReader file(WorkDir + QLatin1Char('/') + SettingsName, MaxSettingsBytes);

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
    const QString text = OneLine(eSMTPServer->text()) + QLatin1Char(',') + OneLine(eHomeAddr->text()) +
                         QStringLiteral("\r\n") + OneLine(ePOPServer->text()) + QLatin1Char(',') +
                         OneLine(eUserName->text()) + QStringLiteral("\r\n");
    TextFile::ReplaceAtomically(WorkDir + QLatin1Char('/') + SettingsName, text.toUtf8());
}
