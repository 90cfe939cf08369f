#pragma once
#include "net/replyline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

#include "mime/mimeheaders.h"

namespace pop {

// RFC 1939 3 allows 512 octets for a status line; we accept eight times that
// (the text, without its line end) and refuse more, so that a server that
// never ends its line cannot make the client buffer without bound.
constexpr qsizetype kMaxStatusLine = 4096;
// The header block of a retrieved message is held whole until it ends; past
// this size the rest is handed on as body text instead of growing memory.
constexpr qsizetype kMaxHeaderBlock = 1024 * 1024;

struct StatusLine {
    bool ok = false;  // "+OK" (else "-ERR")
    QByteArray text;  // what follows the indicator, trimmed
};

using net::ParseResult;

// Parses the status line at the front of data (CRLF or bare LF). On
// Complete, *consumed is the number of bytes it took.
ParseResult ParseStatusLine(QByteArrayView data, StatusLine *line, qsizetype *consumed, QByteArray *error);

using RawHeader = mime::HeaderField;

// Decodes the multi-line answer to RETR as it streams in: finds the
// terminating ".CRLF" (also across reads), removes the stuffed dots, reads
// the header block (mime::HeaderReader) and gives the body as it was sent,
// with CRLF line ends: the form MIME decoding reads. Bare-LF line ends from
// a careless server are accepted and turned into CRLF.
class RetrDecoder {
public:
    // Takes bytes up to and including the terminating line; returns how
    // many were taken (what follows belongs to the next reply). *body is
    // the body octets of this piece: where they are the received octets
    // unchanged (CRLF lines that open with no stuffed dot) it points into
    // data, else into the decoder; it stays valid until the next call, as
    // long as data does. A message of tens of megabytes then costs no copy
    // and no fresh buffer per read.
    qsizetype Feed(QByteArrayView data, QByteArrayView *body);
    // The same, the body octets kept until TakeBody.
    qsizetype Feed(QByteArrayView data);

    bool Done() const { return m_done; }
    bool HeadersDone() const { return !m_inHeaders; }
    const QList<RawHeader> &Headers() const { return m_headers; }
    // The body octets decoded since the last call.
    QByteArray TakeBody();

private:
    enum class At { LineStart, Dot, DotCR, InLine };
    qsizetype AtLineStart(QByteArrayView data, qsizetype i);
    qsizetype AfterDot(QByteArrayView data, qsizetype i);
    qsizetype AfterDotCR(QByteArrayView data, qsizetype i);
    qsizetype InLine(QByteArrayView data, qsizetype i);
    qsizetype UnchangedLines(QByteArrayView data, qsizetype i);
    void Content(const char *data, qsizetype length);
    // crlf: the line's own CR LF in the input, else null (a bare LF).
    void LineEnd(const char *crlf = nullptr);
    void Finish();
    void EndHeaders();
    // Body octets that stay where they are until Feed returns: runs that
    // follow each other in memory are passed on as one.
    void Out(const char *data, qsizetype length);
    void OutCopy(QByteArrayView bytes);
    void Flush();

    At m_at = At::LineStart;
    bool m_pendingCR = false;
    bool m_done = false;
    bool m_inHeaders = true;
    qsizetype m_headerBytes = 0;
    QByteArray m_line;
    mime::HeaderReader m_reader;
    QList<RawHeader> m_headers;
    const char *m_run = nullptr; // the body run not yet copied
    qsizetype m_runSize = 0;
    QByteArray m_body;  // this piece's body where it is not the input's; reused
    QByteArray m_taken; // for TakeBody
};

} // namespace pop
