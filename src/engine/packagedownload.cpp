// The engine's package download: one HEAD per archive to learn the total
// size, then one GET per archive into the work directory.

#include "buildconfig.h"
#include "updateinfo.h"
#include "vemoupdaterengine.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

QString decoded(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QUrl packageUrl(const UpdateInfo *update)
{
    return QUrl(decoded(update->link()));
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

void VemoUpdaterEngine::beginDownload()
{
    // Every address is checked before anything is requested: a path with a
    // ".." segment would put the archive outside the work directory.
    for (const UpdateInfo *update : std::as_const(updateList)) {
        if (!isPackagePath(packageUrl(update).path())) {
            stopWithError(
                QCoreApplication::translate(
                    "translation",
                    "Cannot download package %1: its address %2 is not a valid package address.",
                    "nc")
                    .arg(decoded(update->name()), decoded(update->link())));
            return;
        }
    }

    downloadState = Sizing;
    // While sizing, currentIndex follows the HEAD whose answer is awaited.
    currentIndex = 0;
    for (const UpdateInfo *update : std::as_const(updateList)) {
        const QUrl url = packageUrl(update);
        // Always plain HTTP on the download port, whatever scheme or port the
        // link names.
        http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
        http.head(url.path());
    }
}

void VemoUpdaterEngine::abortDownload()
{
    downloadState = Aborted;
    http.abort();
}

void VemoUpdaterEngine::responseHeaderReceived(const HttpResponseHeader &resp)
{
    if (downloadState == Fetching && http.currentId() != currentRequestId)
        return;
    if (downloadState != Sizing && downloadState != Fetching)
        return;

    // An error page is neither a size to count nor an archive to keep.
    if (!resp.isSuccess()) {
        stopWithError(
            QCoreApplication::translate(
                "translation", "Cannot download package %1: the server answered %2 %3.", "nc")
                .arg(decoded(updateList.at(currentIndex)->name()),
                     QString::number(resp.statusCode()), resp.reasonPhrase()));
        return;
    }
    if (downloadState == Fetching)
        return;

    bytesTotal += int(resp.contentLength());
    ++currentIndex;
    if (!http.hasPendingRequests()) {
        // That was the last HEAD; its own completion is still to come and
        // must not count as archive 0's.
        currentIndex = 0;
        downloadState = Fetching;
        startArchive();
    }
}

void VemoUpdaterEngine::startArchive()
{
    const UpdateInfo *update = updateList.at(currentIndex);
    const QUrl url = packageUrl(update);

    emit downloadFile(decoded(update->name()));
    if (downloadState != Fetching)
        return;

    fileBytesDone = 0;
    outputFile.setFileName(QString("%1/%2").arg(workDir, url.path()));
    if (!outputFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        stopWithError(outputFile.errorString());
        return;
    }

    http.setHost(url.host(), VEMO_DOWNLOAD_PORT);
    currentRequestId = http.get(url.path(), &outputFile);
}

void VemoUpdaterEngine::dataReadProgress(int done, int total)
{
    Q_UNUSED(total);
    if (downloadState != Fetching)
        return;

    const int delta = done - fileBytesDone;
    fileBytesDone = done;
    bytesDone += delta;
    emit downloadProgress(downloadPercentage(bytesDone, bytesTotal));
}

void VemoUpdaterEngine::requestFinished(int id, bool error)
{
    if (error) {
        if (downloadState != Aborted)
            emit this->error(http.errorString());
        return;
    }
    if (downloadState != Fetching || id != currentRequestId)
        return;

    outputFile.close();
    ++currentIndex;
    if (currentIndex < updateList.size()) {
        startArchive();
    } else {
        downloadState = Idle;
        emit downloadFinished();
    }
}

void VemoUpdaterEngine::stopWithError(const QString &text)
{
    // Aborted is final and keeps the client's own error completion from
    // producing a second report.
    downloadState = Aborted;
    http.abort();
    // An archive file is open only when its GET was refused before any of
    // the body arrived: it holds nothing worth keeping.
    if (outputFile.isOpen()) {
        outputFile.close();
        outputFile.remove();
    }
    emit error(text);
}
