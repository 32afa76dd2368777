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
        if (!resp.isSuccess()) {
            refuseResponse(m_headsAnswered, resp);
            return;
        }
        m_bytesTotal += int(resp.contentLength());
        ++m_headsAnswered;
        // No request waits behind this one: it was the last HEAD. Its own
        // completion is still to come and must not count as archive 0's.
        if (!m_http.hasPendingRequests())
            startFetching();
        return;
    case Fetching:
        // The current archive's GET is the only response judged here; its
        // body goes to the archive's file as it arrives.
        if (m_http.currentId() == m_currentRequestId && !resp.isSuccess())
            refuseResponse(m_currentIndex, resp);
        return;
    case Idle:
    case Aborted:
        return;
    }
}

void PackageDownload::startFetching()
{
    m_state = Fetching;
    m_currentIndex = 0;
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
    if (!m_outputFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
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

    const int delta = done - m_fileBytesDone;
    m_fileBytesDone = done;
    m_bytesDone += delta;
    emit progress(downloadPercentage(m_bytesDone, m_bytesTotal));
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
