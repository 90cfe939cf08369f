#include "smtpbody.h"
#include "asciirun.h"
#include "hexdigits.h"
#include "utf8text.h"

#include <cstring>

namespace smtp {

void BodyScan::Feed(QByteArrayView bytes)
{
    m_size += bytes.size();
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    if (n == 0)
        return; // an empty view may have no data at all, which memchr must not see
    // Fastest path: a chunk of plain ASCII without CR or NUL, outside a
    // UTF-8 sequence, leaves only the line lengths to learn. Checked once per
    // chunk, so a chunk that fails costs two more passes at most.
    if (!m_lastCR && !m_utf8Need && !std::memchr(p, '\r', size_t(n))
        && textcore::IsAscii(bytes, textcore::NulEnds::Yes)) {
        qsizetype start = 0;
        while (const void *lf = std::memchr(p + start, '\n', size_t(n - start))) {
            const qsizetype end = static_cast<const unsigned char *>(lf) - p;
            m_longest = qMax(m_longest, m_current + end - start);
            m_current = 0;
            start = end + 1;
        }
        m_current += n - start;
        return;
    }
    qsizetype i = 0;
    qsizetype slowUntil = -1; // a line the fast path gave up on is read octet by octet to its end
    while (i < n) {
        // Fast path: a whole line of plain ASCII without CR, outside a
        // UTF-8 sequence. Tried once per line, so the scan stays linear.
        if (!m_lastCR && !m_utf8Need && i > slowUntil) {
            const void *lf = std::memchr(p + i, '\n', size_t(n - i));
            const qsizetype end = lf ? static_cast<const unsigned char *>(lf) - p : n;
            if (!std::memchr(p + i, '\r', size_t(end - i))
                && textcore::IsAscii(bytes.sliced(i, end - i), textcore::NulEnds::Yes)) {
                m_current += end - i;
                if (end == n)
                    return;
                m_longest = qMax(m_longest, m_current);
                m_current = 0;
                i = end + 1;
                continue;
            }
            slowUntil = end;
        }
        const unsigned char c = p[i++];
        if (c == '\n' || c == '\r') {
            if (!(c == '\n' && m_lastCR)) {
                m_longest = qMax(m_longest, m_current);
                m_current = 0;
            }
            m_lastCR = c == '\r';
            if (m_utf8Need)
                m_validUtf8 = false, m_utf8Need = 0;
            continue;
        }
        m_lastCR = false;
        ++m_current;
        if (c < 0x80) {
            if (m_utf8Need)
                m_validUtf8 = false, m_utf8Need = 0;
            if (c == 0)
                m_nul = true;
            continue;
        }
        m_nonAscii = true;
        if (m_utf8Need) {
            if (textcore::IsUtf8Continuation(c))
                --m_utf8Need;
            else
                m_validUtf8 = false, m_utf8Need = 0;
        } else if (const int following = textcore::Utf8Following(c); following > 0) {
            m_utf8Need = following;
        } else {
            m_validUtf8 = false;
        }
    }
}

BodyEncoding BodyScan::Choose(bool server8BitMime) const
{
    const bool longLines = LongestLine() > kMaxLineOctets;
    if (longLines || m_nul)
        return BodyEncoding::QuotedPrintable;
    if (!m_nonAscii)
        return BodyEncoding::SevenBit;
    return server8BitMime ? BodyEncoding::EightBit : BodyEncoding::QuotedPrintable;
}

QByteArray BodyScan::Charset() const
{
    if (!m_nonAscii)
        return QByteArrayLiteral("US-ASCII");
    // Text that is not UTF-8 comes from a legacy 8-bit file; Latin-1 keeps
    // every octet readable.
    return ValidUtf8() ? QByteArrayLiteral("UTF-8") : QByteArrayLiteral("ISO-8859-1");
}

void DotStuffer::Feed(QByteArrayView in, QByteArray &out)
{
    const char *p = in.data();
    const qsizetype n = in.size();
    // Every octet becomes two at most (a CR or LF its CRLF, a dot at a line
    // start two dots), so the output is written in place, a line per copy.
    const qsizetype start = out.size();
    out.resize(start + 2 * n);
    char *o = out.data() + start;
    qsizetype i = 0;
    while (i < n) {
        if (m_lastCR) {
            m_lastCR = false;
            if (p[i] == '\n') { // the LF of a CRLF whose CR ended the last chunk
                ++i;
                continue;
            }
        }
        if (m_atLineStart) {
            m_atLineStart = false;
            if (p[i] == '.')
                *o++ = '.';
        }
        const void *lf = std::memchr(p + i, '\n', size_t(n - i));
        qsizetype end = lf ? static_cast<const char *>(lf) - p : n;
        if (const void *cr = std::memchr(p + i, '\r', size_t(end - i)))
            end = static_cast<const char *>(cr) - p;
        std::memcpy(o, p + i, size_t(end - i));
        o += end - i;
        if (end == n)
            break;
        *o++ = '\r';
        *o++ = '\n';
        m_atLineStart = true;
        m_lastCR = p[end] == '\r';
        i = end + 1;
    }
    out.resize(o - out.constData());
}

void DotStuffer::Finish(QByteArray &out)
{
    if (!m_atLineStart)
        out.append("\r\n", 2);
    out.append(".\r\n", 3);
    m_atLineStart = true;
    m_lastCR = false;
}

void QpEncoder::Put(QByteArray &out, const char *token, int length)
{
    // Keep one column for the "=" of a soft line break.
    if (m_lineLength + length > kMaxQpLine - 1) {
        out.append("=\r\n", 3);
        m_lineLength = 0;
    }
    out.append(token, length);
    m_lineLength += length;
}

void QpEncoder::Feed(QByteArrayView in, QByteArray &out)
{
    out.reserve(out.size() + in.size() + in.size() / 4 + 8);
    for (qsizetype i = 0; i < in.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == '\r' || c == '\n') {
            const bool secondHalf = c == '\n' && m_lastCR;
            m_lastCR = c == '\r';
            if (secondHalf)
                continue;
            if (m_pendingSpace) { // whitespace before a line end would be stripped in transit
                const char token[3] = {'=', textcore::HexDigit(m_pendingSpace >> 4),
                                       textcore::HexDigit(m_pendingSpace)};
                Put(out, token, 3);
                m_pendingSpace = 0;
            }
            out.append("\r\n", 2);
            m_lineLength = 0;
            continue;
        }
        m_lastCR = false;
        if (m_pendingSpace) {
            Put(out, &m_pendingSpace, 1);
            m_pendingSpace = 0;
        }
        if (c == ' ' || c == '\t') {
            m_pendingSpace = char(c);
        } else if (c >= 33 && c <= 126 && c != '=') {
            const char token = char(c);
            Put(out, &token, 1);
        } else {
            const char token[3] = {'=', textcore::HexDigit(c >> 4), textcore::HexDigit(c)};
            Put(out, token, 3);
        }
    }
}

void QpEncoder::Finish(QByteArray &out)
{
    if (m_pendingSpace) { // a blank at the very end would be stripped in transit too
        const char token[3] = {'=', textcore::HexDigit(m_pendingSpace >> 4), textcore::HexDigit(m_pendingSpace)};
        Put(out, token, 3);
        m_pendingSpace = 0;
    }
}

} // namespace smtp
