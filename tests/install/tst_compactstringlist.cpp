#include "install/compactstringlist.h"

#include "testmain.h"

#include <QTest>

#include <algorithm>

namespace {

// "f/000.txt", "f/001.txt", ...: names that differ in a few bytes only.
QStringList numbered(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("f/%1.txt").arg(i, 3, 10, QLatin1Char('0'));
    return names;
}

} // namespace

// The lists of an installation: the rollback asks them whether a file was
// already saved or created, so a lookup that misses after the index has
// grown puts a package's new contents where the old ones belong.
class CompactStringListTest : public QObject
{
    Q_OBJECT

private slots:
    void lookups_data();
    void lookups();
};

void CompactStringListTest::lookups_data()
{
    QTest::addColumn<QStringList>("entries"); // appended in this order
    QTest::addColumn<int>("askedAfter"); // the first lookup, after so many appends
    QTest::addColumn<bool>("sorted"); // sort() before the last lookups
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("empty") << QStringList() << 0 << false << QStringList{"", "a"};
    QTest::newRow("the empty string") << QStringList{""} << 1 << false << QStringList{" "};
    QTest::newRow("index made at the first lookup, after 40 appends")
        << numbered(40) << 40 << false << QStringList{"f/040.txt", "f/00.txt"};
    QTest::newRow("index made early, grown by appends past 32, 64 and 128 entries")
        << numbered(300) << 1 << false << QStringList{"f/300.txt", "f/000.tx"};
    QTest::newRow("index grown with the first entry named again at the end")
        << numbered(40) + QStringList{"f/000.txt"} << 2 << false << QStringList{"f/040.txt"};
    QTest::newRow("duplicates stay, in order")
        << QStringList{"a", "b", "a", "a"} << 0 << false << QStringList{"c", "aa"};
    QTest::newRow("prefixes and separators are whole entries")
        << QStringList{"dir", "dir/", "dir/a"} << 1 << false
        << QStringList{"di", "dir/a/", "dir//a", "/dir"};
    QTest::newRow("case and accents count")
        << QStringList{QString::fromUtf8("Zażółć"), QString::fromUtf8("zażółć")} << 1 << false
        << QStringList{QString::fromUtf8("ZAŻÓŁĆ"), QStringLiteral("zazolc")};
    QTest::newRow("sorted by UTF-8 bytes, index made again")
        << QStringList{"b", QString::fromUtf8("ä"), "B", QString::fromUtf8("\U0001F600"),
                       QString::fromUtf8("\xef\xbf\xbd"), "a"}
               + numbered(100)
        << 3 << true << QStringList{"A", "f/100.txt"};
}

void CompactStringListTest::lookups()
{
    QFETCH(QStringList, entries);
    QFETCH(int, askedAfter);
    QFETCH(bool, sorted);
    QFETCH(QStringList, absent);

    CompactStringList list;
    for (int i = 0; i < entries.size(); ++i) {
        if (i == askedAfter)
            QVERIFY(!list.contains(QStringLiteral("never appended")));
        list.append(entries.at(i));
        // Every entry so far is found, however often the index has grown.
        if (i >= askedAfter) {
            for (int j = 0; j <= i; ++j)
                QVERIFY2(list.contains(entries.at(j)), qPrintable(entries.at(j)));
        }
    }
    QStringList expected = entries;
    if (sorted) {
        list.sort();
        std::stable_sort(expected.begin(), expected.end(),
                         [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    }
    QCOMPARE(list.size(), expected.size());
    QCOMPARE(list.toStringList(), expected);
    for (const QString &entry : std::as_const(entries))
        QVERIFY2(list.contains(entry), qPrintable(entry));
    for (const QString &text : std::as_const(absent))
        QVERIFY2(!list.contains(text), qPrintable(text));
    QByteArray joined = "log:";
    list.appendJoined(&joined, '\n');
    QCOMPARE(joined, "log:" + expected.join(QLatin1Char('\n')).toUtf8());
}

VEMO_TEST_MAIN(CompactStringListTest)
#include "tst_compactstringlist.moc"
