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
    qsizetype i = 0;
    while (i < data.size() && !m_done) {
        switch (m_at) {
        case At::LineStart: i = AtLineStart(data, i); break;
        case At::Dot: i = AfterDot(data, i); break;
        case At::DotCR: i = AfterDotCR(data, i); break;
        case At::InLine: i = InLine(data, i); break;
        }
    }
    return i;
}

qsizetype RetrDecoder::AtLineStart(QByteArrayView data, qsizetype i)
{
    // A line that starts with a dot is the end, or a stuffed dot.
    if (data[i] != '.') {
        m_at = At::InLine;
        return i;
    }
    m_at = At::Dot;
    return i + 1;
}

qsizetype RetrDecoder::AfterDot(QByteArrayView data, qsizetype i)
{
    if (data[i] == '\r') {
        m_at = At::DotCR;
        return i + 1;
    }
    if (data[i] == '\n') { // ".LF" from a server that forgot CR
        Finish();
        return i + 1;
    }
    m_at = At::InLine; // a stuffed dot: dropped, the line goes on
    return i;
}

qsizetype RetrDecoder::AfterDotCR(QByteArrayView data, qsizetype i)
{
    if (data[i] == '\n') {
        Finish();
        return i + 1;
    }
    Content("\r", 1);
    m_at = At::InLine;
    return i;
}

qsizetype RetrDecoder::InLine(QByteArrayView data, qsizetype i)
{
    const char *p = data.data();
    const qsizetype n = data.size();
    if (m_pendingCR) {
        m_pendingCR = false;
        if (p[i] == '\n') {
            LineEnd();
            return i + 1;
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
        return n;
    }
    const qsizetype j = static_cast<const char *>(nl) - p;
    qsizetype end = j;
    if (end > i && p[end - 1] == '\r')
        --end;
    Content(p + i, end - i);
    LineEnd();
    return j + 1;
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
    switch (m_reader.Take(m_line)) {
    case mime::HeaderReader::Line::Field:
        break;
    case mime::HeaderReader::Line::Blank: // between header and body
        EndHeaders();
        break;
    case mime::HeaderReader::Line::NotAField: // no header block: this line already is body
        EndHeaders();
        m_body.append(m_line);
        m_body.append("\r\n", 2);
        break;
    }
    m_line.clear();
}

void RetrDecoder::EndHeaders()
{
    m_inHeaders = false;
    m_headers = m_reader.TakeFields();
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
