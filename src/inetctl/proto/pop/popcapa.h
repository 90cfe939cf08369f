#pragma once
#include "popreply.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace pop {

// RFC 2449 4: a capability line is at most 512 octets; as with status lines
// we accept eight times that (here the CR of a CRLF end counts) and refuse
// more, so that an endless line cannot make the client buffer without bound.
constexpr qsizetype kMaxCapaLine = 4096;
// No server lists this many capabilities; an endless list is refused instead
// of held in memory.
constexpr qsizetype kMaxCapaLines = 256;

// The lines of a CAPA answer after its "+OK", up to the terminating ".".
// Takes bytes as they come; CRLF or bare LF line ends.
class CapaList {
public:
    // On Complete, *consumed counts every byte of the list including the
    // terminating line; on NeedMore, the complete lines so far (feed the
    // rest again from there).
    ParseResult Feed(QByteArrayView data, qsizetype *consumed, QByteArray *error);
    // Whether a capability (its first word, without regard to case) is listed.
    bool Has(QByteArrayView keyword) const;
    const QList<QByteArray> &Lines() const { return m_lines; }

private:
    QList<QByteArray> m_lines;
};

} // namespace pop
