#include "packagedownload.h"

#include "buildconfig.h"
#include "httpclient.h"
#include "updateinfo.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

QUrl packageUrl(const UpdateInfo *update)
{
    return QUrl(recordText(update->link()));
}

// The archive is written to work directory + "/" + this path, so a path that
// names no file or climbs out of the work directory is refused.
bool isPackagePath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QStringList segments = path.split(QLatin1Char('/'));
    return !segments.contains(QStringLiteral(".."));
}

} // namespace

int downloadPercentage(int done, int total)
{
    if (total == 0)
        return 0;
    return int(qint64(done) * 100 / total);
}

PackageDownload::PackageDownload(HttpClient &http, const QString &workDir)
    : m_http(http)
    , m_workDir(workDir)
{
}

void PackageDownload::begin(const QVector<UpdateInfo *> &updates)
{
    m_updates = updates;

    // Every address is checked before anything is requested: a path with a
    // ".." segment would put the archive outside the work directory.
    for (const UpdateInfo *update : std::as_const(m_updates)) {
        if (!isPackagePath(packageUrl(update).path())) {
            stopWithError(
                QCoreApplication::translate(
                    "translation",
                    "Cannot download package %1: its address %2 is not a valid package address.",
                    "nc")
                    .arg(recordText(update->name()), recordText(update->link())));
            return;
        }
    }

    m_state = Sizing;
    m_headsAnswered = 0;
    m_headLengths.clear();
    for (const UpdateInfo *update : std::as_const(m_updates)) {
        const QUrl url = packageUrl(update);
        // Always plain HTTP on the download port, whatever scheme or port the
        // link names.
        m_http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
        m_http.head(url.path());
    }
}

void PackageDownload::abort()
{
    m_state = Aborted;
    m_http.abort();
}

void PackageDownload::responseHeaderReceived(const HttpResponseHeader &resp)
{
    switch (m_state) {
    case Sizing:
        if (resp.isSuccess())
            countSize(resp);
        else
            refuseResponse(m_headsAnswered, resp);
        return;
    case Fetching:
        // The current archive's GET is the only response judged here; its
        // body goes to the archive's file as it arrives.
        if (m_http.currentId() != m_currentRequestId)
            return;
        if (!resp.isSuccess()) {
            refuseResponse(m_currentIndex, resp);
        } else if (resp.hasContentLength() && m_headLengths.at(m_currentIndex) >= 0
                   && resp.contentLength() != m_headLengths.at(m_currentIndex)) {
            rejectArchive(QCoreApplication::translate(
                              "translation",
                              "Cannot download package %1: the download server gave its size "
                              "as %2 bytes and then as %3 bytes.",
                              "nc")
                              .arg(recordText(m_updates.at(m_currentIndex)->name()))
                              .arg(m_headLengths.at(m_currentIndex))
                              .arg(resp.contentLength()));
        }
        return;
    case Idle:
    case Aborted:
        return;
    }
}

void PackageDownload::countSize(const HttpResponseHeader &resp)
{
    const UpdateInfo *update = m_updates.at(m_headsAnswered);
    const qint64 announced = resp.hasContentLength() ? resp.contentLength() : -1;
    const qint64 size = update->archiveBytes();
    if (size >= 0 && announced >= 0 && announced != size) {
        stopWithError(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server gives its size as "
                          "%2 bytes, the update server as %3 bytes.",
                          "nc")
                          .arg(recordText(update->name()))
                          .arg(announced)
                          .arg(size));
        return;
    }
    m_headLengths.append(announced);
    m_bytesTotal += int(size >= 0 ? size : qMax<qint64>(announced, 0));
    ++m_headsAnswered;
    // No request waits behind this one: it was the last HEAD. Its own
    // completion is still to come and must not count as archive 0's.
    if (!m_http.hasPendingRequests())
        startFetching();
}

void PackageDownload::startFetching()
{
    m_state = Fetching;
    m_currentIndex = 0;
    emit bytes(0, m_bytesTotal);
    // A receiver may have cancelled the run.
    if (m_state != Fetching)
        return;
    startArchive();
}

void PackageDownload::startArchive()
{
    const UpdateInfo *update = m_updates.at(m_currentIndex);
    const QUrl url = packageUrl(update);

    emit fileStarted(recordText(update->name()));
    // A receiver of fileStarted may have cancelled the run.
    if (m_state != Fetching)
        return;

    m_fileBytesDone = 0;
    m_outputFile.setFileName(QString("%1/%2").arg(m_workDir, url.path()));
    if (!m_outputFile.openForDownload()) {
        stopWithError(m_outputFile.errorString());
        return;
    }

    m_http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
    m_currentRequestId = m_http.get(url.path(), &m_outputFile);
}

void PackageDownload::dataReadProgress(int done, int total)
{
    Q_UNUSED(total);
    if (m_state != Fetching)
        return;

    // A server that sends more than announced is cut off: no endless data.
    const qint64 expected = expectedSize();
    if (expected >= 0 && done > expected) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server sent more than the "
                          "%2 bytes announced.",
                          "nc")
                          .arg(recordText(m_updates.at(m_currentIndex)->name()))
                          .arg(expected));
        return;
    }

    const int delta = done - m_fileBytesDone;
    m_fileBytesDone = done;
    m_bytesDone += delta;
    emit progress(downloadPercentage(m_bytesDone, m_bytesTotal));
    if (m_state == Fetching)
        emit bytes(m_bytesDone, m_bytesTotal);
}

qint64 PackageDownload::expectedSize() const
{
    const qint64 size = m_updates.at(m_currentIndex)->archiveBytes();
    return size >= 0 ? size : m_headLengths.value(m_currentIndex, -1);
}

bool PackageDownload::verifyArchive()
{
    const UpdateInfo *update = m_updates.at(m_currentIndex);
    const qint64 expected = expectedSize();
    const qint64 received = m_outputFile.size();
    if (expected >= 0 && received != expected) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "Cannot download package %1: the download server sent %2 bytes "
                          "instead of the %3 bytes announced.",
                          "nc")
                          .arg(recordText(update->name()))
                          .arg(received)
                          .arg(expected));
        return false;
    }
    const QByteArray sha256 = QByteArray::fromStdString(update->archiveSha256());
    if (!sha256.isEmpty() && m_outputFile.hexDigest() != sha256) {
        rejectArchive(QCoreApplication::translate(
                          "translation",
                          "The downloaded package %1 is not the one the update server "
                          "announced: its checksum differs. Nothing was installed.",
                          "nc")
                          .arg(recordText(update->name())));
        return false;
    }
    return true;
}

void PackageDownload::requestFinished(int id, bool error)
{
    if (error) {
        if (m_state != Aborted)
            emit failed(m_http.errorString());
        return;
    }
    // Completions of setHost and HEAD requests, and the last HEAD's after
    // fetching began, are not archives.
    if (m_state != Fetching || id != m_currentRequestId)
        return;

    m_outputFile.close();
    if (!verifyArchive())
        return;
    ++m_currentIndex;
    if (m_currentIndex < m_updates.size()) {
        startArchive();
    } else {
        m_state = Idle;
        emit finished();
    }
}

void PackageDownload::refuseResponse(int index, const HttpResponseHeader &resp)
{
    // An error page is neither a size to count nor an archive to keep.
    stopWithError(QCoreApplication::translate(
                      "translation", "Cannot download package %1: the server answered %2 %3.", "nc")
                      .arg(recordText(m_updates.at(index)->name()),
                           QString::number(resp.statusCode()), resp.reasonPhrase()));
}

void PackageDownload::rejectArchive(const QString &text)
{
    // An archive that failed its check must not stay where a later step
    // could take it for a good one.
    m_outputFile.close();
    m_outputFile.remove();
    stopWithError(text);
}

void PackageDownload::stopWithError(const QString &text)
{
    // Aborted is final and keeps the client's own error completion from
    // producing a second report.
    m_state = Aborted;
    m_http.abort();
    // An archive file is open only when its GET was refused before any of
    // the body arrived: it holds nothing worth keeping.
    if (m_outputFile.isOpen()) {
        m_outputFile.close();
        m_outputFile.remove();
    }
    emit failed(text);
}
