#pragma once
#include <QByteArrayView>
#include <QString>

namespace textcore {

// How many continuation octets follow an octet that starts a UTF-8 sequence
// (RFC 3629 4): 0 for ASCII, 1 to 3 for a lead octet, -1 for an octet no
// valid text starts with (a continuation octet, C0, C1 or F5-FF).
constexpr int Utf8Following(unsigned char c)
{
    if (c < 0x80)
        return 0;
    if (c >= 0xC2 && c <= 0xDF)
        return 1;
    if (c >= 0xE0 && c <= 0xEF)
        return 2;
    if (c >= 0xF0 && c <= 0xF4)
        return 3;
    return -1;
}

constexpr bool IsUtf8Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Strict RFC 3629 UTF-8: no overlong forms, surrogates, code points past
// U+10FFFF or cut sequences.
bool IsValidUtf8(QByteArrayView bytes);

// Bytes as text: UTF-8 when they are valid UTF-8, else Latin-1, so that no
// octet is lost and mislabelled Latin-1 stays legible. A leading byte order
// mark is dropped from UTF-8.
QString Utf8OrLatin1(QByteArrayView bytes);

} // namespace textcore
