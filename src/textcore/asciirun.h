#pragma once
#include <QByteArrayView>
#include <QtEndian>

#include <bit>

// Mail is mostly ASCII, and these scans run over whole messages of tens of
// megabytes: they read eight octets at a time.
namespace textcore {

// Whether a NUL octet ends the run too.
enum class NulEnds { No, Yes };

namespace detail {
// The octets of an eight-octet word that end an ASCII run, as their top
// bits; octet k of the text is bits 8k to 8k+7, whatever the machine.
inline quint64 RunStops(const char *p, NulEnds nul)
{
    constexpr quint64 high = 0x8080808080808080ull;
    constexpr quint64 low = 0x0101010101010101ull;
    const quint64 word = qFromLittleEndian<quint64>(p);
    quint64 stops = word & high;
    if (nul == NulEnds::Yes)
        stops |= (word - low) & ~word & high; // exact for the lowest NUL
    return stops;
}

inline bool StopsRun(char c, NulEnds nul)
{
    return static_cast<unsigned char>(c) >= 0x80 || (nul == NulEnds::Yes && c == 0);
}
} // namespace detail

// How many octets at the front of bytes are 7-bit ASCII (and not NUL, when
// nul says so).
inline qsizetype AsciiRun(QByteArrayView bytes, NulEnds nul = NulEnds::No)
{
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8)
        if (const quint64 stops = detail::RunStops(p + i, nul))
            return i + std::countr_zero(stops) / 8;
    while (i < n && !detail::StopsRun(p[i], nul))
        ++i;
    return i;
}

// Whether all of bytes is 7-bit ASCII (and free of NUL, when nul says so);
// unlike AsciiRun, stops at the first word that is not.
inline bool IsAscii(QByteArrayView bytes, NulEnds nul = NulEnds::No)
{
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8)
        if (detail::RunStops(p + i, nul))
            return false;
    for (; i < n; ++i)
        if (detail::StopsRun(p[i], nul))
            return false;
    return true;
}

} // namespace textcore
