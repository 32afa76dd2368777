#include "vemoupdaterengine.h"

#include "buildconfig.h"
#include "install/installdriver.h"
#include "messenger.h"
#include "ui/messageboxes.h"
#include "updateanswer.h"
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

void showCheckError(const QString &text)
{
    MessageBoxes::critical(MessageBoxes::checkTitle(), text);
}

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

    // A connection left from an earlier check would make connectToHost() a
    // no-op; each check asks the server afresh.
    querySocket.abort();
    querySocket.connectToHost(QStringLiteral(VEMO_UPDATE_HOST), VEMO_UPDATE_PORT,
                              QIODevice::ReadWrite);
    if (!querySocket.waitForConnected(ServerTimeoutMs)) {
        showCheckError(QCoreApplication::translate(
            "translation", "Couldn't connect to update server. Check your internet connection.",
            "nc"));
        return false;
    }

    // Neither result is looked at: a query that did not get through shows as
    // an answer that never comes, and the wait below reports that.
    querySocket.write(query);
    querySocket.waitForBytesWritten(ServerTimeoutMs);

    QByteArray received;
    QDomDocument answer;
    while (!UpdateAnswer::parse(received, &answer)) {
        if (received.size() > MaxAnswerSize || !querySocket.waitForReadyRead(ServerTimeoutMs)) {
            showCheckError(QCoreApplication::translate("translation",
                                                       "An error occured while comunicating "
                                                       "update server. Check your internet "
                                                       "connection.",
                                                       "nc"));
            return false;
        }
        received += querySocket.readAll();
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

void VemoUpdaterEngine::dataReadProgress(int done, int total)
{
    download.dataReadProgress(done, total);
}

void VemoUpdaterEngine::responseHeaderReceived(const HttpResponseHeader &resp)
{
    download.responseHeaderReceived(resp);
}
