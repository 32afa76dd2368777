#include "compactstringlist.h"

#include <QHashFunctions>

#include <algorithm>
#include <numeric>
#include <string_view>

namespace {

size_t hashOf(QByteArrayView bytes)
{
    return qHashBits(bytes.data(), size_t(bytes.size()), 0);
}

// Byte by byte, each byte taken as unsigned, as memcmp() compares.
std::string_view bytesOf(QByteArrayView bytes)
{
    return std::string_view(bytes.data(), size_t(bytes.size()));
}

} // namespace

QByteArrayView CompactStringList::view(qsizetype index) const
{
    const qsizetype begin = index == 0 ? 0 : m_ends.at(index - 1);
    return QByteArrayView(m_bytes.constData() + begin, m_ends.at(index) - begin);
}

QString CompactStringList::at(qsizetype index) const
{
    return QString::fromUtf8(view(index));
}

void CompactStringList::append(const QString &text)
{
    m_bytes += text.toUtf8();
    m_ends.append(m_bytes.size());
    if (!m_slots.empty())
        index(m_ends.size() - 1);
}

void CompactStringList::index(qsizetype entry) const
{
    // Kept at most half full, so that a search ends at a free slot soon.
    if (size_t(entry + 1) * 2 > m_slots.size()) {
        size_t capacity = std::max<size_t>(64, m_slots.size());
        while (capacity < size_t(entry + 1) * 2)
            capacity *= 2;
        m_slots.assign(capacity, 0);
        for (qsizetype i = 0; i < entry; ++i)
            place(i);
    }
    place(entry);
}

void CompactStringList::place(qsizetype entry) const
{
    const size_t mask = m_slots.size() - 1;
    size_t slot = hashOf(view(entry)) & mask;
    while (m_slots[slot] != 0)
        slot = (slot + 1) & mask;
    m_slots[slot] = quint32(entry + 1);
}

qsizetype CompactStringList::find(QByteArrayView bytes) const
{
    if (m_slots.empty()) {
        if (m_ends.isEmpty())
            return -1;
        index(m_ends.size() - 1);
    }
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = hashOf(bytes) & mask; m_slots[slot] != 0; slot = (slot + 1) & mask) {
        const qsizetype entry = qsizetype(m_slots[slot]) - 1;
        if (bytesOf(view(entry)) == bytesOf(bytes))
            return entry;
    }
    return -1;
}

bool CompactStringList::contains(const QString &text) const
{
    return find(text.toUtf8()) >= 0;
}

void CompactStringList::sort()
{
    std::vector<qsizetype> order(size_t(m_ends.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](qsizetype a, qsizetype b) {
        return bytesOf(view(a)) < bytesOf(view(b));
    });
    QByteArray bytes;
    bytes.reserve(m_bytes.size());
    QList<qsizetype> ends;
    ends.reserve(m_ends.size());
    for (const qsizetype entry : order) {
        bytes += view(entry);
        ends.append(bytes.size());
    }
    m_bytes = bytes;
    m_ends = ends;
    m_slots.clear();
}

QStringList CompactStringList::toStringList() const
{
    QStringList list;
    list.reserve(m_ends.size());
    for (qsizetype i = 0; i < m_ends.size(); ++i)
        list.append(at(i));
    return list;
}

void CompactStringList::appendJoined(QByteArray *utf8, char separator) const
{
    // A little more, for what the caller appends after the list.
    utf8->reserve(utf8->size() + m_bytes.size() + m_ends.size() + 16);
    for (qsizetype i = 0; i < m_ends.size(); ++i) {
        if (i > 0)
            *utf8 += separator;
        *utf8 += view(i);
    }
}
