#pragma once
#include <QByteArrayView>
#include <QList>

#include <algorithm>

// Where a read may have stopped: a few cut points drawn from the input
// itself, so that the fuzzer steers them, sorted and within 0..size.
inline QList<qsizetype> FuzzCuts(QByteArrayView data, int count)
{
    QList<qsizetype> cuts;
    const qsizetype size = data.size();
    quint32 seed = 2166136261u;
    for (qsizetype i = 0; i < qMin<qsizetype>(size, 16); ++i)
        seed = (seed ^ static_cast<unsigned char>(data[i])) * 16777619u;
    cuts << size / 2 << qMax<qsizetype>(size - 1, 0);
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        cuts << qsizetype(seed % quint32(size + 1));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}
