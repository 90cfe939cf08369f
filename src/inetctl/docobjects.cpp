#include "docobjects.h"
#include "eoleexception.h"

namespace {
// Automation collections are 1-based and take an integer variant.
qsizetype CheckedIndex(const OleVariant &index, qsizetype count)
{
    const qint32 n = index.ToInt();
    if (n < 1 || n > count)
        throw EOleException(EOleException::DispE_BadIndex);
    return n - 1;
}
} // namespace

void TDocHeaders::Clear()
{
    // A caller may still hold an item from before the clear; let it live
    // until the event loop comes round again.
    for (auto *item : std::as_const(m_items))
        item->deleteLater();
    m_items.clear();
}

TDocHeader *TDocHeaders::Add(const QString &name, const QString &value)
{
    auto *item = new TDocHeader(name, value, this);
    m_items.append(item);
    return item;
}

TDocHeader *TDocHeaders::Item(const OleVariant &index) const
{
    return m_items.at(CheckedIndex(index, m_items.size()));
}

TErrorItem *TErrors::Item(const OleVariant &index) const
{
    return m_items.at(CheckedIndex(index, m_items.size()));
}

void TErrors::Clear()
{
    // A caller may still hold an item from before the clear; let it live
    // until the event loop comes round again.
    for (auto *item : std::as_const(m_items))
        item->deleteLater();
    m_items.clear();
}

void TErrors::Add(const QString &description)
{
    m_items.append(new TErrorItem(description, this));
}
