#include "faulttable.h"

#include <QStringList>

namespace {
QString Table(const QList<FaultRow> &rows)
{
    QString text = QStringLiteral("| Step | Fault | Server | Client saw and did | Outcome | Clean |\n"
                                  "|---|---|---|---|---|---|\n");
    for (const FaultRow &row : rows)
        text += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                    .arg(row.step, row.fault, row.server, row.client, row.outcome, row.clean);
    return text;
}

// Where the section starts and ends; start is -1 when it is missing.
void Bounds(const QString &markdown, const QString &heading, qsizetype *start, qsizetype *end)
{
    *start = markdown.startsWith(heading + QLatin1Char('\n')) ? 0 : markdown.indexOf(QLatin1Char('\n') + heading + QLatin1Char('\n'));
    if (*start < 0)
        return;
    if (*start > 0)
        ++*start;
    const qsizetype next = markdown.indexOf(QStringLiteral("\n## "), *start + heading.size());
    *end = next < 0 ? markdown.size() : next + 1;
}
} // namespace

QString FaultSection(const QList<FaultRow> &smtpRows, const QList<FaultRow> &popRows)
{
    return QStringLiteral(
               "## Fault matrix\n"
               "\n"
               "Every step of both protocols crossed with every way a server can fail\n"
               "there, played by scripted servers against the real controls (test\n"
               "`tst_faults`, `Timeout` set to 1 second). The SMTP server offers no\n"
               "PIPELINING, so that each command is a step of its own. POP3 has no reply\n"
               "classes: a 4xx or 5xx there is `-ERR` with a temporary or permanent\n"
               "response code, and inside a retrieved message any reply is just text.\n"
               "\"Client saw and did\" lists the control's events from the call that\n"
               "reaches the step on (repeats folded), then the commands it sent after the\n"
               "fault. `doc N` is the document's state in `OnDocInput` / `OnDocOutput`\n"
               "(1 begin, 2 headers, 3 data, 5 end). A cell is clean when the control raised exactly the error the step\n"
               "calls for (or none), ended in the right state with `Busy` false, claimed\n"
               "no success for the failed step, lost no text, did not crash or hang, and\n"
               "stayed usable: the next document or message went through on a session\n"
               "that stayed open, and a new connection worked after one that ended.\n"
               "The test writes this section; after changing the cases run\n"
               "`scripts/faulttable.sh`.\n"
               "\n"
               "### SMTP\n"
               "\n")
           + Table(smtpRows)
           + QStringLiteral("\n### POP3\n\n") + Table(popRows);
}

QString SectionOf(const QString &markdown, const QString &heading)
{
    qsizetype start = -1;
    qsizetype end = -1;
    Bounds(markdown, heading, &start, &end);
    if (start < 0)
        return QString();
    QString section = markdown.mid(start, end - start);
    while (section.endsWith(QStringLiteral("\n\n")))
        section.chop(1);
    return section;
}

QString WithSection(const QString &markdown, const QString &heading, const QString &section)
{
    qsizetype start = -1;
    qsizetype end = -1;
    Bounds(markdown, heading, &start, &end);
    if (start < 0) {
        QString text = markdown;
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        return text + QLatin1Char('\n') + section;
    }
    const bool more = end < markdown.size();
    return markdown.left(start) + section + (more ? QStringLiteral("\n") : QString()) + markdown.mid(end);
}
