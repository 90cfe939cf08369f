#include "popreply.h"

#include <cstring>

namespace pop {

ParseResult ParseStatusLine(QByteArrayView data, StatusLine *line, qsizetype *consumed, QByteArray *error)
{
    QByteArrayView text;
    const ParseResult taken = net::TakeLine(data, kMaxStatusLine, &text, consumed);
    if (taken == ParseResult::Invalid)
        *error = "Status line longer than " + QByteArray::number(kMaxStatusLine) + " bytes";
    if (taken != ParseResult::Complete)
        return taken;
    const qsizetype length = text.size();
    if (text.startsWith("+OK") && (length == 3 || text[3] == ' ')) {
        line->ok = true;
        line->text = text.sliced(3).toByteArray().trimmed();
        return ParseResult::Complete;
    }
    if (text.startsWith("-ERR") && (length == 4 || text[4] == ' ')) {
        line->ok = false;
        line->text = text.sliced(4).toByteArray().trimmed();
        return ParseResult::Complete;
    }
    QByteArray shown = text.first(qMin<qsizetype>(length, 60)).toByteArray();
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '?';
    *error = "Malformed status line \"" + shown + '"';
    return ParseResult::Invalid;
}

qsizetype RetrDecoder::Feed(QByteArrayView data)
{
    const char *p = data.data();
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n && !m_done) {
        switch (m_at) {
        case At::LineStart:
            if (p[i] == '.') {
                m_at = At::Dot;
                ++i;
            } else {
                m_at = At::InLine;
            }
            break;
        case At::Dot:
            if (p[i] == '\r') {
                m_at = At::DotCR;
                ++i;
            } else if (p[i] == '\n') { // ".LF" from a server that forgot CR
                ++i;
                Finish();
            } else {
                m_at = At::InLine; // a stuffed dot: dropped, the line goes on
            }
            break;
        case At::DotCR:
            if (p[i] == '\n') {
                ++i;
                Finish();
            } else {
                Content("\r", 1);
                m_at = At::InLine;
            }
            break;
        case At::InLine: {
            if (m_pendingCR) {
                m_pendingCR = false;
                if (p[i] == '\n') {
                    ++i;
                    LineEnd();
                    break;
                }
                Content("\r", 1);
            }
            const void *nl = std::memchr(p + i, '\n', size_t(n - i));
            if (!nl) {
                qsizetype end = n;
                if (p[n - 1] == '\r') { // maybe half of a CRLF split across reads
                    m_pendingCR = true;
                    --end;
                }
                Content(p + i, end - i);
                i = n;
                break;
            }
            const qsizetype j = static_cast<const char *>(nl) - p;
            qsizetype end = j;
            if (end > i && p[end - 1] == '\r')
                --end;
            Content(p + i, end - i);
            LineEnd();
            i = j + 1;
            break;
        }
        }
    }
    return i;
}

void RetrDecoder::Content(const char *data, qsizetype length)
{
    if (length <= 0)
        return;
    if (!m_inHeaders) {
        m_body.append(data, length);
        return;
    }
    if (m_headerBytes + m_line.size() + length > kMaxHeaderBlock) {
        // Not a header block any more: keep every octet, as body text.
        m_body.append(m_line);
        m_line.clear();
        EndHeaders();
        m_body.append(data, length);
        return;
    }
    m_line.append(data, length);
}

void RetrDecoder::LineEnd()
{
    m_at = At::LineStart;
    if (!m_inHeaders) {
        m_body.append("\r\n", 2);
        return;
    }
    m_headerBytes += m_line.size() + 2;
    if (m_line.isEmpty()) { // the blank line between header and body
        EndHeaders();
        return;
    }
    const char first = m_line.at(0);
    if ((first == ' ' || first == '\t') && !m_headers.isEmpty()) {
        // RFC 5322 2.2.3: unfolding removes the line break only.
        m_headers.last().second += m_line;
        m_headers.last().second = m_headers.last().second.trimmed();
        m_line.clear();
        return;
    }
    const qsizetype colon = m_line.indexOf(':');
    bool isHeader = colon > 0;
    for (qsizetype k = 0; isHeader && k < colon; ++k) {
        const unsigned char c = static_cast<unsigned char>(m_line[k]);
        isHeader = c > 32 && c < 127;
    }
    if (!isHeader) {
        // A message without a header block: this line already is body.
        EndHeaders();
        m_body.append(m_line);
        m_body.append("\r\n", 2);
        m_line.clear();
        return;
    }
    m_headers.append({m_line.left(colon), m_line.mid(colon + 1).trimmed()});
    m_line.clear();
}

void RetrDecoder::EndHeaders()
{
    m_inHeaders = false;
}

void RetrDecoder::Finish()
{
    if (m_pendingCR) {
        m_pendingCR = false;
        Content("\r", 1);
    }
    if (m_inHeaders) {
        if (!m_line.isEmpty())
            LineEnd();
        EndHeaders();
    }
    m_done = true;
}

QByteArray RetrDecoder::TakeBody()
{
    QByteArray body;
    body.swap(m_body);
    return body;
}

} // namespace pop
