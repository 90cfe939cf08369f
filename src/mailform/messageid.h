#pragma once
#include <QDateTime>
#include <QString>

// A message identifier made of the application title, the local date and
// time, and the return address, in that order, e.g.
// <Orvanta_Mail_20261208T193309.042_7f3a9c01_bob@example.org>. It is a valid
// identifier (no blanks, one "@", in angle brackets) and unique for every
// document, so that receivers neither refuse it nor drop a second document
// of the same Send as a duplicate.
QString MakeMessageId(const QString &title, const QString &returnAddress,
                      const QDateTime &now = QDateTime::currentDateTime());

