#include "popreply.h"

#include <cstring>
#include <utility>

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

qsizetype RetrDecoder::Feed(QByteArrayView data, QByteArrayView *body)
{
    m_body.resize(0); // keeps its capacity: never handed out but as a view
    m_run = nullptr;
    m_runSize = 0;
    qsizetype i = 0;
    while (i < data.size() && !m_done) {
        switch (m_at) {
        case At::LineStart: i = AtLineStart(data, i); break;
        case At::Dot: i = AfterDot(data, i); break;
        case At::DotCR: i = AfterDotCR(data, i); break;
        case At::InLine: i = InLine(data, i); break;
        }
    }
    if (m_body.isEmpty()) {
        *body = QByteArrayView(m_run, m_runSize);
    } else {
        Flush();
        *body = m_body;
    }
    m_run = nullptr;
    m_runSize = 0;
    return i;
}

qsizetype RetrDecoder::Feed(QByteArrayView data)
{
    QByteArrayView body;
    const qsizetype taken = Feed(data, &body);
    m_taken.append(body);
    return taken;
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

qsizetype RetrDecoder::UnchangedLines(QByteArrayView data, qsizetype i)
{
    // From the line going on at i, where the last whole line in CR LF ends
    // before the data's end, a bare LF or a line that opens with a dot.
    const char *p = data.data();
    const qsizetype n = data.size();
    qsizetype at = i;
    for (;;) {
        const void *nl = std::memchr(p + at, '\n', size_t(n - at));
        if (!nl)
            return at;
        const qsizetype j = static_cast<const char *>(nl) - p;
        if (j == at || p[j - 1] != '\r')
            return at;
        at = j + 1;
        if (at == n || p[at] == '.')
            return at;
    }
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
    if (!m_inHeaders) {
        // Body lines that end in CR LF and whose successor opens with no dot
        // go on as they came, in one run: a message has hundreds of
        // thousands of them.
        const qsizetype end = UnchangedLines(data, i);
        if (end > i) {
            Out(p + i, end - i);
            m_at = At::LineStart;
            return end;
        }
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
    const bool crlf = j > i && p[j - 1] == '\r';
    const qsizetype end = crlf ? j - 1 : j;
    Content(p + i, end - i);
    LineEnd(crlf ? p + end : nullptr);
    return j + 1;
}

void RetrDecoder::Content(const char *data, qsizetype length)
{
    if (length <= 0)
        return;
    if (!m_inHeaders) {
        Out(data, length);
        return;
    }
    if (m_headerBytes + m_line.size() + length > kMaxHeaderBlock) {
        // Not a header block any more: keep every octet, as body text.
        OutCopy(m_line);
        m_line.clear();
        EndHeaders();
        Out(data, length);
        return;
    }
    m_line.append(data, length);
}

void RetrDecoder::LineEnd(const char *crlf)
{
    m_at = At::LineStart;
    if (!m_inHeaders) {
        Out(crlf ? crlf : "\r\n", 2);
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
        OutCopy(m_line);
        Out("\r\n", 2);
        break;
    }
    m_line.clear();
}

void RetrDecoder::Out(const char *data, qsizetype length)
{
    if (m_runSize > 0 && m_run + m_runSize == data) {
        m_runSize += length;
        return;
    }
    Flush();
    m_run = data;
    m_runSize = length;
}

void RetrDecoder::OutCopy(QByteArrayView bytes)
{
    Flush();
    m_body.append(bytes);
}

void RetrDecoder::Flush()
{
    if (m_runSize > 0)
        m_body.append(m_run, m_runSize);
    m_runSize = 0;
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
    return std::exchange(m_taken, QByteArray());
}

} // namespace pop
