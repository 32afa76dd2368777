#include "testmain.h"
#include "ui/downloadstatus.h"
#include "uitesthelpers.h"

#include <QTest>

// The text under the download window's bar, from the byte counts it is fed
// over time, as a Polish user reads it.
class DownloadStatusTest : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
};

void DownloadStatusTest::text_data()
{
    QTest::addColumn<QStringList>("samples"); // "msecs:done"
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *tag, const QStringList &samples, qint64 total, const char *text) {
        QTest::newRow(tag) << samples << total << QString::fromUtf8(text);
    };

    row("nothing reported yet", {}, 12300000, "");
    row("first count: the amount alone", {"0:0"}, 12300000, "0,0 z 12,3 MB");
    row("under a second of samples: no rate yet", {"0:0", "500:1000000"}, 12300000,
        "1,0 z 12,3 MB");
    row("rate and time left", {"0:160000", "2000:3200000"}, 12300000,
        "3,2 z 12,3 MB · 1,5 MB/s · zostało 6 s");
    row("time left rounded up", {"0:0", "1000:1500000", "2000:3000000"}, 12300000,
        "3,0 z 12,3 MB · 1,5 MB/s · zostało 7 s");
    row("rate averaged over the last three seconds",
        {"0:0", "1000:1000000", "2000:2000000", "3000:3000000", "4000:3100000"}, 10000000,
        "3,1 z 10,0 MB · 700,0 kB/s · zostało 10 s");
    row("stalled: the rate falls to nothing, no time left",
        {"0:1000000", "3000:1000000", "6000:1000000"}, 10000000, "1,0 z 10,0 MB · 0 B/s");
    row("one minute", {"0:0", "1000:1000"}, 61000, "1,0 z 61,0 kB · 1,0 kB/s · została 1 min");
    row("minutes and seconds", {"0:0", "1000:1000"}, 126000,
        "1,0 z 126,0 kB · 1,0 kB/s · zostały 2 min 5 s");
    row("twelve seconds", {"0:0", "1000:1000"}, 13000, "1,0 z 13,0 kB · 1,0 kB/s · zostało 12 s");
    row("twenty-two seconds", {"0:0", "1000:1000"}, 23000,
        "1,0 z 23,0 kB · 1,0 kB/s · zostały 22 s");
    row("hours", {"0:0", "1000:1000"}, 3661000, "0,0 z 3,7 MB · 1,0 kB/s · została 1 h 1 min");
    row("small archive in bytes", {"0:0", "1000:256"}, 512, "256 z 512 B · 256 B/s · została 1 s");
    row("beyond 2 GiB", {"0:2000000000", "1000:3000000000"}, 5000000000,
        "3,0 z 5,0 GB · 1,0 GB/s · zostały 2 s");
    row("everything arrived: no time left", {"0:0", "1000:5000000"}, 5000000,
        "5,0 z 5,0 MB · 5,0 MB/s");
    row("size unknown: bytes done alone", {"0:0", "1000:2500000"}, 0, "2,5 MB · 2,5 MB/s");
    row("more than announced: the total is dropped", {"0:0", "1000:1500"}, 1000,
        "1,5 kB · 1,5 kB/s");
}

void DownloadStatusTest::text()
{
    QFETCH(QStringList, samples);
    QFETCH(qint64, total);
    QFETCH(QString, expected);

    UiTest::PolishCatalogue catalogue;
    QVERIFY(catalogue.isInstalled());
    DownloadStatus status;
    for (const QString &sample : samples) {
        const QStringList parts = sample.split(QLatin1Char(':'));
        status.addSample(parts.at(0).toLongLong(), parts.at(1).toLongLong(), total);
    }
    QCOMPARE(status.text(), expected);
}

VEMO_TEST_MAIN(DownloadStatusTest)
#include "tst_downloadstatus.moc"
