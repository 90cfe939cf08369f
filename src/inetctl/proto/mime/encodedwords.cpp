#include "encodedwords.h"
#include "charsets.h"
#include "transferdecoding.h"

namespace mime {

namespace {
// RFC 2047 2 limits an encoded word to 75 characters; senders exceed it,
// but a "=?" with no end in sight is ordinary text.
constexpr qsizetype kMaxEncodedWord = 1024;

struct EncodedWord {
    qsizetype length = 0; // octets of the raw value it spans
    QByteArray charset;
    QByteArray bytes; // decoded octets
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool DecodeQ(QByteArrayView text, QByteArray *out)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            *out += ' ';
        } else if (c == '=') {
            if (i + 2 >= text.size())
                return false;
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            *out += char(hi * 16 + lo);
            i += 2;
        } else {
            *out += c;
        }
    }
    return true;
}

// The encoded word at the front of raw ("=?charset?B|Q?text?="), if any.
bool ParseEncodedWord(QByteArrayView value, EncodedWord *word)
{
    if (!value.startsWith("=?"))
        return false;
    // Searched only this far: a value full of "=?" must not cost a scan of
    // the rest of it for each one.
    const QByteArrayView raw = value.first(qMin(value.size(), kMaxEncodedWord));
    const qsizetype q1 = raw.indexOf('?', 2);
    if (q1 < 3 || q1 + 3 >= raw.size() || raw[q1 + 2] != '?')
        return false;
    const char encoding = raw[q1 + 1];
    const qsizetype end = raw.indexOf("?=", q1 + 3);
    if (end < 0)
        return false;
    const QByteArrayView charset = raw.sliced(2, q1 - 2);
    const QByteArrayView text = raw.sliced(q1 + 3, end - q1 - 3);
    for (char c : charset)
        if (IsBlank(c) || c == '"' || c == '(' || c == ')')
            return false;
    for (char c : text)
        if (IsBlank(c) || static_cast<unsigned char>(c) >= 0x80)
            return false;
    word->bytes.clear();
    if (encoding == 'B' || encoding == 'b') {
        if (!DecodeBase64Strict(text, &word->bytes))
            return false;
    } else if (encoding == 'Q' || encoding == 'q') {
        if (!DecodeQ(text, &word->bytes))
            return false;
    } else {
        return false;
    }
    word->charset = charset.toByteArray();
    word->length = end + 2;
    return true;
}
} // namespace

QString DecodeHeaderValue(QByteArrayView raw)
{
    QString out;
    QByteArray plain;       // ordinary text not yet converted
    QByteArray wordBytes;   // octets of adjacent encoded words in one charset
    QByteArray wordCharset;
    auto flushWords = [&] {
        if (!wordBytes.isEmpty() || !wordCharset.isEmpty())
            out += DecodeCharset(wordBytes, wordCharset);
        wordBytes.clear();
        wordCharset.clear();
    };
    auto flushPlain = [&] {
        if (!plain.isEmpty())
            out += DecodeCharset(plain, {});
        plain.clear();
    };
    bool afterWord = false;
    qsizetype i = 0;
    while (i < raw.size()) {
        EncodedWord word;
        if (raw[i] == '=' && ParseEncodedWord(raw.sliced(i), &word)) {
            // Blanks between two encoded words only separate them.
            if (afterWord) {
                bool blanks = true;
                for (char c : plain)
                    blanks = blanks && IsBlank(c);
                if (blanks)
                    plain.clear();
            }
            if (!plain.isEmpty()) {
                flushWords();
                flushPlain();
            }
            // A character split between two words must be joined as octets.
            if (word.charset.compare(wordCharset, Qt::CaseInsensitive) != 0)
                flushWords();
            wordCharset = word.charset;
            wordBytes += word.bytes;
            afterWord = true;
            i += word.length;
            continue;
        }
        if (afterWord && !IsBlank(raw[i])) {
            flushWords();
            flushPlain();
            afterWord = false;
        }
        plain += raw[i];
        ++i;
    }
    flushWords();
    flushPlain();
    return out;
}

} // namespace mime
