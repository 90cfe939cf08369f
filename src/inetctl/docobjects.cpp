#include "docobjects.h"
#include "eoleexception.h"

#include <algorithm>
#include <limits>

namespace {
qsizetype CheckedIndex(qint32 index, qsizetype count)
{
    if (index < 1 || index > count)
        throw EOleException(EOleException::DispE_BadIndex);
    return index - 1;
}
} // namespace

qint32 ClampCount(qint64 count)
{
    return qint32(std::clamp<qint64>(count, 0, std::numeric_limits<qint32>::max()));
}

const TDocHeader &TDocHeaders::Add(const QString &name, const QString &value)
{
    m_items.append(TDocHeader(name, value));
    return m_items.constLast();
}

const TDocHeader &TDocHeaders::Item(qint32 index) const
{
    return m_items.at(CheckedIndex(index, m_items.size()));
}

const TErrorItem &TErrors::Item(qint32 index) const
{
    return m_items.at(CheckedIndex(index, m_items.size()));
}

void TDocInput::SetProgress(DocState state, qint64 total, qint64 transferred)
{
    m_state = state;
    m_bytesTotal = ClampCount(total);
    m_bytesTransferred = ClampCount(transferred);
}

void TDocOutput::SetProgress(DocState state, qint64 transferred, const QString &data)
{
    m_state = state;
    m_bytesTransferred = ClampCount(transferred);
    m_data = data;
}
