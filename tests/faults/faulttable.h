#pragma once
#include <QList>
#include <QString>

// The outcome table of the fault matrix, as docs/RELIABILITY.md holds it.
struct FaultRow {
    QString step;
    QString fault;
    QString server; // what the server did
    QString client; // the control's events and commands after the fault
    QString outcome;
    QString clean; // "yes", or what was wrong
};

// The whole "## Fault matrix" section.
QString FaultSection(const QList<FaultRow> &smtpRows, const QList<FaultRow> &popRows);
// The section of that name in a Markdown text (heading to the next "## "),
// empty when missing.
QString SectionOf(const QString &markdown, const QString &heading);
// The text with that section replaced, or appended when missing.
QString WithSection(const QString &markdown, const QString &heading, const QString &section);
