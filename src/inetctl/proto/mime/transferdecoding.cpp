#include "transferdecoding.h"

#include <cstring>

namespace mime {

namespace {
// Blanks held at the end of a quoted-printable line until we know whether
// the line ends there (then they are transport padding and dropped); a run
// longer than this is text.
constexpr qsizetype kMaxHeldBlanks = 1024;
// A base64 line is checked whole before it is decoded; a line longer than
// this (one endless line) is checked and decoded in pieces.
constexpr qsizetype kMaxBase64Line = 4096;

struct Base64Table {
    signed char value[256];
    constexpr Base64Table() : value()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = -1;
        const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int k = 0; k < 64; ++k)
            value[static_cast<unsigned char>(alphabet[k])] = static_cast<signed char>(k);
    }
};
constexpr Base64Table kBase64;

int Base64Value(char c)
{
    return kBase64.value[static_cast<unsigned char>(c)];
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

TransferEncoding ParseTransferEncoding(QByteArrayView value)
{
    const QByteArray name = value.trimmed().toByteArray().toLower();
    if (name == "quoted-printable")
        return TransferEncoding::QuotedPrintable;
    if (name == "base64")
        return TransferEncoding::Base64;
    return TransferEncoding::Identity;
}

bool DecodeBase64Strict(QByteArrayView text, QByteArray *out)
{
    quint32 bits = 0;
    int sextets = 0;
    bool padded = false;
    for (char c : text) {
        if (c == '=') {
            padded = true;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0 || padded)
            return false;
        bits = (bits << 6) | quint32(v);
        if (++sextets == 4) {
            *out += char(bits >> 16);
            *out += char(bits >> 8);
            *out += char(bits);
            bits = 0;
            sextets = 0;
        }
    }
    if (sextets == 1)
        return false;
    if (sextets == 2)
        *out += char(bits >> 4);
    if (sextets == 3) {
        *out += char(bits >> 10);
        *out += char(bits >> 2);
    }
    return true;
}

TransferDecoder::TransferDecoder(TransferEncoding encoding) : m_encoding(encoding) {}

void TransferDecoder::Feed(QByteArrayView in, QByteArray *decoded, QByteArray *raw)
{
    if (m_broken) {
        raw->append(in.data(), in.size());
        return;
    }
    switch (m_encoding) {
    case TransferEncoding::Identity:
        decoded->append(in.data(), in.size());
        return;
    case TransferEncoding::QuotedPrintable:
        FeedQuotedPrintable(in, decoded);
        return;
    case TransferEncoding::Base64:
        FeedBase64(in, decoded, raw);
        return;
    }
}

void TransferDecoder::Finish(QByteArray *decoded, QByteArray *raw)
{
    if (m_broken)
        return;
    if (m_encoding == TransferEncoding::QuotedPrintable) {
        // A lone "=" at the very end is a soft break; blanks are padding;
        // "=X" was never an escape.
        if (m_hold.size() == 2 && m_hold[0] == '=' && HexValue(m_hold[1]) >= 0)
            decoded->append(m_hold);
        m_hold.clear();
    } else if (m_encoding == TransferEncoding::Base64) {
        if (!m_line.isEmpty() && !Base64Line(m_line, decoded)) {
            raw->append(m_line);
            m_broken = true;
        }
        m_line.clear();
        // Unpadded last quantum: keep the whole octets it holds.
        if (m_sextets == 2)
            *decoded += char(m_bits >> 4);
        else if (m_sextets == 3) {
            *decoded += char(m_bits >> 10);
            *decoded += char(m_bits >> 2);
        }
        m_sextets = 0;
    }
}

void TransferDecoder::FeedQuotedPrintable(QByteArrayView in, QByteArray *out)
{
    const char *p = in.data();
    const qsizetype n = in.size();
    qsizetype i = 0;
    while (i < n) {
        if (m_hold.isEmpty()) {
            // Plain octets in one run.
            qsizetype j = i;
            while (j < n && p[j] != '=' && !IsBlank(p[j]))
                ++j;
            out->append(p + i, j - i);
            i = j;
            if (i == n)
                break;
        }
        QuotedPrintableOctet(p[i], out);
        ++i;
    }
}

void TransferDecoder::QuotedPrintableOctet(char c, QByteArray *out)
{
    if (m_hold.isEmpty()) {
        if (c == '=' || IsBlank(c))
            m_hold += c;
        else
            *out += c;
        return;
    }
    if (m_hold[0] != '=') { // blanks: padding if the line ends here
        if (IsBlank(c) && m_hold.size() < kMaxHeldBlanks) {
            m_hold += c;
            return;
        }
        if (c != '\r' && c != '\n')
            out->append(m_hold);
        m_hold.clear();
        QuotedPrintableOctet(c, out);
        return;
    }
    if (m_hold.size() == 1 && HexValue(c) >= 0) {
        m_hold += c;
        return;
    }
    if (m_hold.size() == 2 && HexValue(m_hold[1]) >= 0) {
        if (HexValue(c) >= 0) {
            *out += char(HexValue(m_hold[1]) * 16 + HexValue(c));
            m_hold.clear();
            return;
        }
        out->append(m_hold); // "=X" then something else: not an escape
        m_hold.clear();
        QuotedPrintableOctet(c, out);
        return;
    }
    // "=" then blanks and maybe a CR: a soft line break if the line ends.
    if (c == '\n') {
        m_hold.clear();
        return;
    }
    const char last = m_hold.back();
    if (last != '\r' && m_hold.size() < kMaxHeldBlanks && (IsBlank(c) || c == '\r')) {
        m_hold += c;
        return;
    }
    const QByteArray rest = m_hold.mid(1);
    m_hold.clear();
    *out += '=';
    for (char r : rest)
        QuotedPrintableOctet(r, out);
    QuotedPrintableOctet(c, out);
}

void TransferDecoder::FeedBase64(QByteArrayView in, QByteArray *decoded, QByteArray *raw)
{
    const char *p = in.data();
    const qsizetype n = in.size();
    qsizetype i = 0;
    while (i < n) {
        const void *nl = std::memchr(p + i, '\n', size_t(n - i));
        const qsizetype lineEnd = nl ? static_cast<const char *>(nl) - p : n;
        const qsizetype room = kMaxBase64Line - m_line.size();
        const qsizetype take = qMin(lineEnd - i, room);
        QByteArrayView piece(p + i, take);
        const bool whole = take == lineEnd - i && nl;
        const bool full = !whole && take == room;
        if (!whole && !full) { // the line goes on in the next read
            m_line.append(piece.data(), piece.size());
            return;
        }
        QByteArrayView line = piece;
        if (!m_line.isEmpty()) {
            m_line.append(piece.data(), piece.size());
            line = m_line;
        }
        if (!Base64Line(line, decoded)) {
            m_broken = true;
            raw->append(line.data(), line.size());
            raw->append(p + i + take, n - i - take);
            m_line.clear();
            return;
        }
        m_line.clear();
        i += take + (whole ? 1 : 0);
    }
}

bool TransferDecoder::Base64Line(QByteArrayView line, QByteArray *decoded)
{
    // Only the alphabet and padding, then blanks added in transport; a blank
    // inside the line means ordinary text, not base64.
    qsizetype end = line.size();
    while (end > 0 && (IsBlank(line[end - 1]) || line[end - 1] == '\r'))
        --end;
    for (qsizetype k = 0; k < end; ++k)
        if (line[k] != '=' && Base64Value(line[k]) < 0)
            return false;
    // Written in place: the line can yield at most three octets per four
    // characters, plus what the quantum before it held.
    const qsizetype start = decoded->size();
    decoded->resize(start + end / 4 * 3 + 6);
    char *out = decoded->data() + start;
    for (qsizetype k = 0; k < end; ++k) {
        const char c = line[k];
        if (c == '=') {
            // Padding closes the quantum; a next quantum may follow.
            if (m_sextets == 2) {
                *out++ = char(m_bits >> 4);
            } else if (m_sextets == 3) {
                *out++ = char(m_bits >> 10);
                *out++ = char(m_bits >> 2);
            }
            m_bits = 0;
            m_sextets = 0;
            continue;
        }
        m_bits = (m_bits << 6) | quint32(Base64Value(c));
        if (++m_sextets == 4) {
            *out++ = char(m_bits >> 16);
            *out++ = char(m_bits >> 8);
            *out++ = char(m_bits);
            m_bits = 0;
            m_sextets = 0;
        }
    }
    decoded->truncate(out - decoded->constData());
    return true;
}

} // namespace mime
