#include "vemoupdaterengine.h"

#include "buildconfig.h"
#include "messenger.h"
#include "updateanswer.h"
#include "updateinfo.h"
#include "workdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QMessageBox>

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
    QMessageBox::critical(nullptr,
                          QCoreApplication::translate("translation", "Check updates", "nc"), text,
                          QMessageBox::Ok);
}

} // namespace

VemoUpdaterEngine::VemoUpdaterEngine()
{
    qRegisterMetaType<HttpResponseHeader>();

    bytesDone = 0;
    bytesTotal = 0;
    downloadState = Idle;
    m_installSucceeded = false;

    workDir = WorkDirectory::path();
    QString ignored;
    WorkDirectory::preparePrivate(workDir, &ignored);

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
