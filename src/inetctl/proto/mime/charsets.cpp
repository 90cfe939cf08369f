#include "charsets.h"
#include "asciirun.h"
#include "utf8text.h"

#include <cstring>

namespace mime {

namespace {
// A line with 8-bit text is held until its end to choose UTF-8 or Latin-1;
// past this many octets the choice is made for what is held, so that one
// endless line cannot grow memory.
constexpr qsizetype kMaxHeldLine = 64 * 1024;

// The label as a converter name, or nothing when the label promises no more
// than Utf8OrLatin1Decoder already does or names no charset we know.
std::optional<QStringDecoder> DecoderFor(QByteArrayView charset)
{
    QByteArray name = charset.trimmed().toByteArray().toLower();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
        name = name.mid(1, name.size() - 2).trimmed();
    const qsizetype language = name.indexOf('*'); // RFC 2231 "charset*language"
    if (language >= 0)
        name.truncate(language);
    if (name.isEmpty() || name == "us-ascii" || name == "ascii" || name == "utf-8" || name == "utf8")
        return std::nullopt;
    // Mail labelled Latin-1 routinely carries Windows-1252's quotes and
    // dashes in 0x80-0x9F, where Latin-1 has only invisible controls.
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1"
        || name == "latin-1" || name == "l1")
        name = "windows-1252";
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder;
}
} // namespace

qsizetype IncompleteUtf8Tail(QByteArrayView bytes)
{
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= qMin<qsizetype>(3, n); ++back) {
        const unsigned char c = static_cast<unsigned char>(bytes[n - back]);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation octet: look further back
        const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

QString Utf8OrLatin1Decoder::Decode(QByteArrayView bytes)
{
    QString out;
    // At most one character per octet: one allocation, not one per growth.
    out.reserve(bytes.size() + m_held.size());
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (m_held.isEmpty()) {
            const qsizetype j = i + textcore::AsciiRun(bytes.sliced(i));
            out += QLatin1StringView(p + i, j - i);
            i = j;
            if (i == n)
                break;
        }
        const void *nl = std::memchr(p + i, '\n', size_t(n - i));
        const qsizetype take = nl ? static_cast<const char *>(nl) - (p + i) + 1 : n - i;
        m_held.append(p + i, take);
        i += take;
        DecideHeld(&out, nl != nullptr);
    }
    return out;
}

void Utf8OrLatin1Decoder::DecideHeld(QString *out, bool lineEnded)
{
    // Whole slices of kMaxHeldLine first, wherever the input was cut, so
    // that the result is the same for any cutting.
    qsizetype from = 0;
    while (m_held.size() - from >= kMaxHeldLine && !(lineEnded && m_held.size() - from == kMaxHeldLine)) {
        QByteArrayView slice(m_held.constData() + from, kMaxHeldLine);
        if (textcore::IsValidUtf8(slice.first(kMaxHeldLine - IncompleteUtf8Tail(slice))))
            slice = slice.first(kMaxHeldLine - IncompleteUtf8Tail(slice));
        *out += textcore::Utf8OrLatin1(slice);
        from += slice.size();
    }
    if (lineEnded) {
        *out += textcore::Utf8OrLatin1(QByteArrayView(m_held).sliced(from));
        m_held.clear();
    } else if (from > 0) {
        m_held.remove(0, from);
    }
}

QString Utf8OrLatin1Decoder::Finish()
{
    QString out;
    if (!m_held.isEmpty())
        DecideHeld(&out, true);
    return out;
}

TextDecoder::TextDecoder(QByteArrayView charset) : m_decoder(DecoderFor(charset)) {}

QString TextDecoder::Decode(QByteArrayView bytes)
{
    return m_decoder ? m_decoder->decode(bytes) : m_fallback.Decode(bytes);
}

QString TextDecoder::Finish()
{
    if (!m_decoder)
        return m_fallback.Finish();
    // A sequence cut off by the end of the text shows as a replacement mark.
    return m_decoder->decode(QByteArrayView());
}

QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset)
{
    TextDecoder decoder(charset);
    const QString text = decoder.Decode(bytes);
    return text + decoder.Finish();
}

} // namespace mime
