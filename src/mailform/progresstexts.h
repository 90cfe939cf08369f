#pragma once
#include <QString>

// The Connect To page's text for a session's connection state; `kind` is
// "SMTP" or "POP". States outside the table keep `current`.
QString SessionStateText(const QString &kind, short state, const QString &host, const QString &current);

// The status texts of a document's transfer, from its transfer state.
// `current` is what the bar shows now, kept for states that change nothing.
QString SendProgressText(short state, qint32 total, qint32 transferred, bool failed,
                         const QString &recipients, const QString &current);
QString RetrieveProgressText(short state, qint32 transferred, bool failed, const QString &current);
