#include "utf8text.h"
#include "asciirun.h"

namespace textcore {

bool IsValidUtf8(QByteArrayView bytes)
{
    // The least code point of each sequence length: below it, an overlong form.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (;;) {
        i += AsciiRun(bytes.sliced(i));
        if (i == n)
            return true;
        const int more = Utf8Following(p[i]);
        if (more < 0 || n - i <= more)
            return false;
        char32_t code = p[i] & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if (!IsUtf8Continuation(p[i + k]))
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < kLeast[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
}

QString Utf8OrLatin1(QByteArrayView bytes)
{
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

} // namespace textcore
