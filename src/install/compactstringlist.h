#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// A list of strings kept as UTF-8 in one block of memory, for the lists of an
// installation that grow by one entry per file: each string takes its length
// plus 8 bytes, where a QStringList takes over 100 bytes for a short path.
// contains() is answered from a hash index that its first call builds and
// later appends keep up to date, so lists never asked cost no index.
class CompactStringList
{
public:
    void append(const QString &text);
    qsizetype size() const { return m_ends.size(); }
    QString at(qsizetype index) const;
    bool contains(const QString &text) const;
    // Orders the strings by their UTF-8 bytes, which is the order of their
    // code points and, for text within the Basic Multilingual Plane (any
    // Latin-1 name), QString's own order.
    void sort();

    QStringList toStringList() const;
    // Appends the strings joined with separator (as QStringList::join()
    // joins them) to *utf8, in UTF-8, with room made once.
    void appendJoined(QByteArray *utf8, char separator) const;

private:
    QByteArrayView view(qsizetype index) const;
    qsizetype find(QByteArrayView bytes) const;
    // Enters entry in the index, and every entry before it when the index
    // has to grow (or does not exist yet).
    void index(qsizetype entry) const;
    void place(qsizetype entry) const;

    QByteArray m_bytes;
    QList<qsizetype> m_ends; // where each string ends in m_bytes
    // Open addressing: 0 for a free slot, else the entry's position + 1.
    mutable std::vector<quint32> m_slots;
};
