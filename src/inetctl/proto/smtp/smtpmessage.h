#pragma once
#include "smtpaddress.h"
#include "smtpbody.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace smtp {

using HeaderList = QList<QPair<QString, QString>>;

// The header block of one outgoing message and its envelope.
struct Envelope {
    bool ok = false;
    QString error;        // why the document cannot be sent, when !ok
    bool headerError = false; // the error is about a header (else about addresses)
    QByteArray headers;   // header lines with CRLF, then the empty line
    QString sender;       // the address of the first mailbox in From
    QStringList recipients; // To and CC addresses, each once
};

// Builds the header block: the program's headers in their order and as they
// are (only non-ASCII text gets RFC 2047 encoded words, since 8-bit header
// octets are not allowed without SMTPUTF8), then what RFC 5322 and MIME
// require and the document lacks: Date, and for an encoded body
// MIME-Version, Content-Transfer-Encoding and a Content-Type whose charset
// matches the text. A value holding CR or LF is refused (header injection).
Envelope BuildEnvelope(const HeaderList &headers, BodyEncoding encoding, const QByteArray &charset,
                       const QDateTime &now);

// "Tue, 08 Dec 2026 19:21:16 +0100", in English whatever the locale.
QByteArray Rfc5322Date(const QDateTime &when);

// One or more "=?UTF-8?B?...?=" words for text that is not ASCII.
QByteArray EncodeWords(const QString &text);

} // namespace smtp
