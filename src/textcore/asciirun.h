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
// The octets of the eight at p that end an ASCII run, as their top bits;
// octet k is bits 8k to 8k+7, whatever the machine.
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

// Whole words of the run: where the first word with a stop begins (its
// stops in *stops), else where the last whole word ends (*stops zero).
inline qsizetype WordRun(QByteArrayView bytes, NulEnds nul, quint64 *stops)
{
    qsizetype i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
        if ((*stops = RunStops(bytes.data() + i, nul)))
            return i;
    *stops = 0;
    return i;
}

// The run from i on, an octet at a time.
inline qsizetype OctetRun(QByteArrayView bytes, qsizetype i, NulEnds nul)
{
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80 && (nul == NulEnds::No || bytes[i] != 0))
        ++i;
    return i;
}
} // namespace detail

// How many octets at the front of bytes are 7-bit ASCII (and not NUL, when
// nul says so).
inline qsizetype AsciiRun(QByteArrayView bytes, NulEnds nul = NulEnds::No)
{
    quint64 stops;
    const qsizetype i = detail::WordRun(bytes, nul, &stops);
    return stops ? i + std::countr_zero(stops) / 8 : detail::OctetRun(bytes, i, nul);
}

// Whether all of bytes is 7-bit ASCII (and free of NUL, when nul says so);
// cheaper than comparing AsciiRun with the size when the answer is no.
inline bool IsAscii(QByteArrayView bytes, NulEnds nul = NulEnds::No)
{
    quint64 stops;
    const qsizetype i = detail::WordRun(bytes, nul, &stops);
    return !stops && detail::OctetRun(bytes, i, nul) == bytes.size();
}

} // namespace textcore
