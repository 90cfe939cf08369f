#include "popcapa.h"

namespace pop {

ParseResult CapaList::Feed(QByteArrayView data, qsizetype *consumed, QByteArray *error)
{
    qsizetype pos = 0;
    *consumed = 0;
    for (;;) {
        QByteArrayView text;
        qsizetype used = 0;
        const ParseResult taken =
            net::TakeLine(data.sliced(pos), kMaxCapaLine, &text, &used, net::LimitCounts::TextAndCR);
        if (taken == ParseResult::Invalid)
            *error = "capability line too long";
        if (taken != ParseResult::Complete)
            return taken;
        QByteArray line = text.toByteArray();
        pos += used;
        *consumed = pos;
        if (line == ".")
            return ParseResult::Complete;
        if (line.startsWith('.'))
            line.remove(0, 1); // RFC 1939 3: byte-stuffed
        if (m_lines.size() >= kMaxCapaLines) {
            *error = "capability list too long";
            return ParseResult::Invalid;
        }
        m_lines.append(line.trimmed());
    }
}

bool CapaList::Has(QByteArrayView keyword) const
{
    for (const QByteArray &line : m_lines) {
        const qsizetype space = line.indexOf(' ');
        const QByteArrayView word = space < 0 ? QByteArrayView(line) : QByteArrayView(line).first(space);
        if (word.compare(keyword, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace pop
