#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// What the download window says about the transfer under way, in Polish
// number formats: "3,2 z 12,3 MB · 1,5 MB/s · zostało 6 s". The window feeds
// it the byte counts a few times a second; the rate is averaged over the last
// few seconds, so that neither it nor the time left jumps with every packet.
class DownloadStatus
{
public:
    // 'done' of 'total' bytes had arrived 'msecs' milliseconds after some
    // fixed start. Samples come in time order. A total of 0 or less, or one
    // that 'done' has passed, counts as unknown.
    void addSample(qint64 msecs, qint64 done, qint64 total);

    // Bytes per second over the last few seconds; -1 while the samples span
    // too short a time to tell.
    qint64 rate() const;

    // The text for the latest sample: the amount, then the rate and the time
    // left once they are known; empty before the first sample.
    QString text() const;

    // "512 B", "12,3 kB", "12,3 MB": decimal units, one decimal place.
    static QString sizeText(qint64 bytes);
    // "6 s", "2 min 5 s", "1 h 3 min"; whole seconds, rounded up by the caller.
    static QString timeText(qint64 seconds);

private:
    struct Sample
    {
        qint64 msecs;
        qint64 done;
    };

    QList<Sample> m_samples; // the latest few seconds, oldest first
    qint64 m_total = 0;
};
