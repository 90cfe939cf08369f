#pragma once
#include "net/replyline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

namespace smtp {

// RFC 5321 4.5.3.1.5 allows 512 octets per reply line. Real servers stay far
// below; we accept eight times that (the text, without its line end) and
// refuse more, so that a server that never sends a line end cannot make the
// client buffer without bound.
constexpr qsizetype kMaxReplyLine = 4096;
// An endless multi-line reply ("250-" forever) is cut off here; EHLO replies
// have a dozen lines.
constexpr int kMaxReplyLines = 512;

// One server reply: the code and the text of each line (after "250-" or
// "250 "). A bare "250" with no text is a valid one-line reply.
struct Reply {
    int code = 0;
    QList<QByteArray> lines;
    bool multiline = false;

    int Class() const { return code / 100; }
    // The lines' texts joined by a space, for OnError's description.
    QString Text() const;
    // The lines as the server sent them, code included, for Errors.
    QStringList RawLines() const;
};

using net::ParseResult;

// Parses the reply at the front of data (CRLF or bare LF line ends). On
// Complete, *consumed is the number of bytes the reply took; on Invalid,
// *error says why (garbage, invalid code, line or reply too long).
ParseResult ParseReply(QByteArrayView data, Reply *reply, qsizetype *consumed, QString *error);

} // namespace smtp
