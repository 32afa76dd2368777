#include "downloadstatus.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

namespace {

// The rate is the average over this much time, and is shown only once the
// samples span at least the shorter time.
constexpr qint64 RateWindowMs = 3000;
constexpr qint64 RateMinimumSpanMs = 1000;

const QString Separator = QStringLiteral(" · ");

QLocale polish()
{
    return QLocale(QLocale::Polish, QLocale::Poland);
}

// The power of 1000 that sizeText() picks for this many bytes.
int unitPower(qint64 bytes)
{
    int power = 0;
    for (qint64 rest = bytes; rest >= 1000; rest /= 1000)
        ++power;
    return power;
}

// 'bytes' as a number in the unit of 'power', without the unit.
QString numberIn(qint64 bytes, int power)
{
    if (power == 0)
        return polish().toString(bytes);
    double value = double(bytes);
    for (int i = 0; i < power; ++i)
        value /= 1000.0;
    return polish().toString(value, 'f', 1);
}

} // namespace

void DownloadStatus::addSample(qint64 msecs, qint64 done, qint64 total)
{
    m_total = total > 0 && done <= total ? total : 0;
    m_samples.append({msecs, done});
    // Keep one sample at or before the start of the window, so that the
    // average covers the whole window.
    while (m_samples.size() > 2 && m_samples.at(1).msecs <= msecs - RateWindowMs)
        m_samples.removeFirst();
}

qint64 DownloadStatus::rate() const
{
    if (m_samples.size() < 2)
        return -1;
    const Sample &first = m_samples.first();
    const Sample &last = m_samples.last();
    const qint64 span = last.msecs - first.msecs;
    if (span < RateMinimumSpanMs)
        return -1;
    return qMax<qint64>(0, (last.done - first.done) * 1000 / span);
}

QString DownloadStatus::text() const
{
    if (m_samples.isEmpty())
        return QString();
    const qint64 done = m_samples.last().done;

    QStringList parts;
    if (m_total > 0) {
        parts << QCoreApplication::translate("DownloadStatus", "%1 of %2")
                     .arg(numberIn(done, unitPower(m_total)), sizeText(m_total));
    } else {
        parts << sizeText(done);
    }

    const qint64 bytesPerSecond = rate();
    if (bytesPerSecond >= 0)
        parts << sizeText(bytesPerSecond) + QStringLiteral("/s");
    if (bytesPerSecond > 0 && m_total > 0 && done < m_total) {
        const qint64 left = (m_total - done + bytesPerSecond - 1) / bytesPerSecond;
        // The verb agrees with the time's first number: "została 1 min",
        // "zostały 2 min", "zostało 5 min".
        const qint64 leading = left < 60 ? left : left < 3600 ? left / 60 : left / 3600;
        const int form = leading > 1000000 ? 1000000 : int(leading);
        parts << QCoreApplication::translate("DownloadStatus", "%1 left", nullptr, form)
                     .arg(timeText(left));
    }
    return parts.join(Separator);
}

QString DownloadStatus::sizeText(qint64 bytes)
{
    // Qt's own words for plain bytes do not agree with the number in Polish
    // ("1 bajty"); the unit's symbol does not have to.
    if (bytes < 1000)
        return polish().toString(bytes) + QStringLiteral(" B");
    return polish().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString DownloadStatus::timeText(qint64 seconds)
{
    const QLocale locale = polish();
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(locale.toString(seconds));
    if (seconds < 3600) {
        const qint64 rest = seconds % 60;
        return rest == 0 ? QStringLiteral("%1 min").arg(locale.toString(seconds / 60))
                         : QStringLiteral("%1 min %2 s")
                               .arg(locale.toString(seconds / 60), locale.toString(rest));
    }
    const qint64 minutes = seconds / 60 % 60;
    return minutes == 0 ? QStringLiteral("%1 h").arg(locale.toString(seconds / 3600))
                        : QStringLiteral("%1 h %2 min")
                              .arg(locale.toString(seconds / 3600), locale.toString(minutes));
}
