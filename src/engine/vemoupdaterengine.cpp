#include "vemoupdaterengine.h"

#include "buildconfig.h"
#include "install/installdriver.h"
#include "messenger.h"
#include "ui/messageboxes.h"
#include "updateanswer.h"
#include "updateexchange.h"
#include "updateinfo.h"
#include "workdirectory.h"

#include <QCoreApplication>
#include <QDomDocument>

namespace {

// How long the messenger may take to print its query before it counts as
// one that printed nothing.
constexpr int MessengerTimeoutMs = 60000;
// Each wait for the update server.
constexpr int ServerTimeoutMs = 30000;
// An answer larger than this is not an answer: the check stops with the
// communication error instead of filling memory.
constexpr qsizetype MaxAnswerSize = 16 * 1024 * 1024;

} // namespace

VemoUpdaterEngine::VemoUpdaterEngine()
    // The start-up has made the work directory and checked that it is ours
    // alone before the engine exists; nothing here prepares it again.
    : workDir(WorkDirectory::path())
    , download(http, workDir)
{
    qRegisterMetaType<HttpResponseHeader>();

    connect(&download, &PackageDownload::fileStarted, this, &VemoUpdaterEngine::downloadFile);
    connect(&download, &PackageDownload::progress, this, &VemoUpdaterEngine::downloadProgress);
    connect(&download, &PackageDownload::finished, this, &VemoUpdaterEngine::downloadFinished);
    connect(&download, &PackageDownload::failed, this, &VemoUpdaterEngine::error);

    connect(&http, &HttpClient::requestFinished, this, &VemoUpdaterEngine::requestFinished);
    connect(&http, &HttpClient::dataReadProgress, this, &VemoUpdaterEngine::dataReadProgress);
    connect(&http, &HttpClient::responseHeaderReceived, this,
            &VemoUpdaterEngine::responseHeaderReceived);
}

VemoUpdaterEngine::~VemoUpdaterEngine()
{
    qDeleteAll(updateList);
    updateList.clear();
}

bool VemoUpdaterEngine::hasUpdates() const
{
    return !updateList.isEmpty();
}

QVector<UpdateInfo *> VemoUpdaterEngine::updates() const
{
    return updateList;
}

QString VemoUpdaterEngine::installLog() const
{
    return m_installLog;
}

bool VemoUpdaterEngine::installSucceeded() const
{
    return m_installSucceeded;
}

bool VemoUpdaterEngine::checkForUpdates()
{
    QString installDir;
    if (!Messenger::installationDirectory(QCoreApplication::arguments(), &installDir))
        return false;

    const QByteArray output = Messenger::runUpdateQuery(installDir, MessengerTimeoutMs);
    const QByteArray query = Messenger::cutOutQuery(output);

    qDeleteAll(updateList);
    updateList.clear();

    UpdateExchange exchange(querySocket, ServerTimeoutMs, MaxAnswerSize);
    QDomDocument answer;
    if (!exchange.run(QStringLiteral(VEMO_UPDATE_HOST), VEMO_UPDATE_PORT, query, &answer)) {
        MessageBoxes::critical(MessageBoxes::checkTitle(), exchange.failureText());
        return false;
    }

    updateList = UpdateAnswer::availableUpdates(answer);
    return true;
}

void VemoUpdaterEngine::beginDownload()
{
    download.begin(updateList);
}

void VemoUpdaterEngine::abortDownload()
{
    download.abort();
}

void VemoUpdaterEngine::installUpdates()
{
    InstallDriver driver(updateList, workDir);
    connect(&driver, &InstallDriver::fileStarted, this, &VemoUpdaterEngine::installFile);
    connect(&driver, &InstallDriver::progress, this, &VemoUpdaterEngine::installProgress);
    // The summary window reads the log and the result as soon as it hears
    // that the installation is over.
    connect(&driver, &InstallDriver::finished, this, [this, &driver] {
        m_installLog = driver.log();
        m_installSucceeded = driver.succeeded();
        emit installFinished();
    });
    driver.run();
}

void VemoUpdaterEngine::requestFinished(int id, bool error)
{
    download.requestFinished(id, error);
}

void VemoUpdaterEngine::dataReadProgress(qint64 done, qint64 total)
{
    download.dataReadProgress(done, total);
}

void VemoUpdaterEngine::responseHeaderReceived(const HttpResponseHeader &resp)
{
    download.responseHeaderReceived(resp);
}
