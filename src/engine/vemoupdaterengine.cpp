#include "vemoupdaterengine.h"

#include "answerscanner.h"
#include "answersignature.h"
#include "buildconfig.h"
#include "messenger.h"
#include "runlog.h"
#include "updateanswer.h"
#include "updateinfo.h"
#include "updatekeys.h"
#include "updateserverconnection.h"
#include "userprompts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <algorithm>

namespace {

// The whole check, the messenger's run included: however slowly a server
// dribbles its answer, the check ends by then.
constexpr int CheckTimeoutMs = 60000;
// Each wait for the update server, within the whole check's time.
constexpr int ServerTimeoutMs = 30000;
// An answer larger than this, or nested deeper, is not an answer; both are
// refused before anything parses it.
constexpr qsizetype MaxAnswerSize = 16 * 1024 * 1024;
constexpr int MaxAnswerDepth = 64;
// How much of the answer the socket holds at a time.
constexpr qint64 SocketBufferSize = 256 * 1024;
// The least time between two installDetailedProgress() signals.
constexpr int InstallDetailIntervalMs = 250;

void showCheckError(UserPrompts &prompts, const QString &text)
{
    prompts.critical(UserPrompts::checkTitle(), text);
}

QString communicationError()
{
    return QCoreApplication::translate(
        "VemoUpdaterEngine",
        "An error occured while comunicating update server. Check your internet connection.");
}

// An answer that fails its signature or its stamps: the reason goes to the
// log, the user learns that the answer was not trusted.
void showNotVerified(UserPrompts &prompts, const QString &reason)
{
    qWarning("updater: the update answer was not accepted: %s", qPrintable(reason));
    showCheckError(
        prompts,
        QCoreApplication::translate(
            "VemoUpdaterEngine",
            "The update server's answer could not be verified, so no updates will be "
            "installed. Someone may be interfering with your connection; try again later or "
            "from another network."));
}

int waitTime(const QDeadlineTimer &deadline)
{
    return int(qBound<qint64>(1, deadline.remainingTime(), qint64(ServerTimeoutMs)));
}

} // namespace

VemoUpdaterEngine::VemoUpdaterEngine(const UpdaterPaths &paths, UserPrompts &prompts)
    : m_paths(paths)
    , m_prompts(prompts)
    // The start-up has made the work directory and checked that it is ours
    // alone before the engine exists; nothing here prepares it again.
    , download(m_paths.workDir)
    , m_updateKeys(UpdateKeys::list())
    , m_checkTimeoutMs(CheckTimeoutMs)
    , m_installDetailIntervalMs(InstallDetailIntervalMs)
{
    connect(&download, &PackageDownload::fileStarted, this, &VemoUpdaterEngine::downloadFile);
    connect(&download, &PackageDownload::progress, this, &VemoUpdaterEngine::downloadProgress);
    connect(&download, &PackageDownload::finished, this, &VemoUpdaterEngine::archivesDownloaded);
    connect(&download, &PackageDownload::dropped, this, &VemoUpdaterEngine::deltaDropped);
    connect(&download, &PackageDownload::failed, this, &VemoUpdaterEngine::error);
    connect(&download, &PackageDownload::bytes, this, &VemoUpdaterEngine::downloadBytes);
}

VemoUpdaterEngine::~VemoUpdaterEngine()
{
    // A preparation still running works in the engine's folders: it is
    // stopped before they can go.
    if (m_preparation) {
        m_preparationCancelled = true;
        m_preparation->wait();
    }
}

bool VemoUpdaterEngine::hasUpdates() const
{
    return !updateList.isEmpty();
}

const QVector<UpdateInfo> &VemoUpdaterEngine::updates() const
{
    return updateList;
}

QString VemoUpdaterEngine::installLog() const
{
    return QString::fromUtf8(m_downloadLog + m_installLog);
}

bool VemoUpdaterEngine::installSucceeded() const
{
    return m_installSucceeded;
}

bool VemoUpdaterEngine::checkForUpdates()
{
    if (!m_paths.hasInstallDir)
        return false;
    const QString &installDir = m_paths.installDir;

    const QDeadlineTimer deadline(m_checkTimeoutMs);
    const QByteArray output = Messenger::runUpdateQuery(installDir, m_checkTimeoutMs);
    const QByteArray query = Messenger::cutOutQuery(output);
    m_query = query;

    updateList.clear();

    // Without a query there is nothing to ask; the network is not to blame.
    if (!Messenger::isUsableQuery(query)) {
        // What it printed instead, for the log.
        qCInfo(lcRunLog, "the messenger printed no query: %s",
               qUtf8Printable(QString::fromLocal8Bit(output.left(2000)).trimmed()));
        showCheckError(
            m_prompts,
            tr("Vemo did not report its installed components, so updates cannot be checked. "
               "Reinstalling Vemo may help."));
        return false;
    }

    querySocket.setReadBufferSize(SocketBufferSize);
    QString failure;
    if (!UpdateServerConnection::open(querySocket, QStringLiteral(VEMO_UPDATE_HOST),
                                      VEMO_UPDATE_PORT, waitTime(deadline), &failure)) {
        showCheckError(m_prompts, failure);
        return false;
    }

    // Neither result is looked at: a query that did not get through shows as
    // an answer that never comes, and the wait below reports that.
    querySocket.write(query);
    querySocket.waitForBytesWritten(waitTime(deadline));

    QByteArray message;
    if (!receiveAnswer(query, deadline, &message))
        return false;

    // The bytes that were bounded (and verified) are read once, for the
    // root element's stamps and for the records alike.
    const UpdateAnswer answer(message);
    QString problem;
    if (!m_updateKeys.isEmpty()
        && !AnswerSignature::checkRoot(answer, &query, QDateTime::currentSecsSinceEpoch(),
                                       &problem)) {
        showNotVerified(m_prompts, problem);
        return false;
    }
    if (!answer.isWellFormed()) {
        showCheckError(m_prompts, tr("The update server's answer is not a valid XML document."));
        return false;
    }
    if (!answer.isUsable(!m_updateKeys.isEmpty(), &problem)) {
        showCheckError(m_prompts, problem);
        return false;
    }
    updateList = answer.updates();
    return true;
}

bool VemoUpdaterEngine::receiveAnswer(const QByteArray &query, const QDeadlineTimer &deadline,
                                      QByteArray *message)
{
    // The scanner sees each byte once and says when the root element has
    // ended; nothing parses the answer before it is whole, small enough and
    // nested no deeper than the limit.
    AnswerScanner scanner(MaxAnswerDepth);
    QByteArray received;
    while (scanner.scan(received) == AnswerScanner::Incomplete
           && received.size() <= MaxAnswerSize) {
        if (deadline.hasExpired() || !querySocket.waitForReadyRead(waitTime(deadline))) {
            showCheckError(m_prompts, communicationError());
            return false;
        }
        received += querySocket.read(MaxAnswerSize + 1 - received.size());
    }
    if (scanner.status() == AnswerScanner::Refused && !scanner.depthExceeded()) {
        showCheckError(m_prompts, tr("The update server's answer is not a valid XML document."));
        return false;
    }
    if (scanner.depthExceeded() || scanner.status() != AnswerScanner::Complete
        || scanner.rootEnd() > MaxAnswerSize) {
        showCheckError(m_prompts,
                       tr("The update server's answer is larger or more deeply nested than "
                          "any answer can be (%1 MiB, %2 levels).")
                           .arg(MaxAnswerSize / (1024 * 1024))
                           .arg(MaxAnswerDepth));
        return false;
    }

    // What follows the root element is not part of the answer.
    const QByteArray document = received.left(scanner.rootEnd());
    if (m_updateKeys.isEmpty()) {
        *message = document;
        return true;
    }
    // The root element's stamps are checked once the message is read.
    QVector<QByteArray> keys;
    QString reason;
    if (!AnswerSignature::parseKeys(m_updateKeys, &keys, &reason)
        || !AnswerSignature(keys).verifySignature(document, scanner, message, &reason)) {
        showNotVerified(m_prompts, reason);
        return false;
    }
    return true;
}

void VemoUpdaterEngine::beginDownload()
{
    emit downloadBegun();
    // An update with a delta package downloads that instead of its full
    // package; the full one follows only where the delta fails.
    QVector<UpdateInfo> archives;
    archives.reserve(updateList.size());
    for (const UpdateInfo &update : std::as_const(updateList))
        archives.append(update.hasDelta() ? update.deltaPackage() : update);
    m_fallbacks.clear();
    m_fallbackRound = false;
    download.begin(archives);
}

void VemoUpdaterEngine::deltaDropped(int index, const QString &reason)
{
    // Only the first round holds delta packages, one record per update.
    fallBack(index, reason);
}

void VemoUpdaterEngine::fallBack(int index, const QString &reason)
{
    const UpdateInfo &update = updateList.at(index);
    const QString line =
        tr("The delta package of %1 cannot be used, so its full package is downloaded: %2")
            .arg(update.name(), reason);
    qWarning("updater: %s", qUtf8Printable(line));
    m_downloadLog += (line + QLatin1Char('\n')).toUtf8();
    updateList[index] = update.withoutDelta();
    m_fallbacks.append(index);
}

void VemoUpdaterEngine::archivesDownloaded()
{
    if (m_fallbackRound) {
        emit downloadFinished();
        return;
    }
    // Every delta is made ready before any install root is touched, on a
    // thread of its own (hashing and patching large files takes seconds);
    // the ones that do not fit go by their full packages, in a second
    // round. The thread gets copies of what it reads.
    QVector<int> deltas;
    for (int index = 0; index < updateList.size(); ++index) {
        if (updateList.at(index).hasDelta())
            deltas.append(index);
    }
    m_preparationCancelled = false;
    if (deltas.isEmpty()) {
        deltasPrepared({});
        return;
    }
    Q_ASSERT(m_deltaPreparation);
    auto failures = std::make_shared<QVector<QPair<int, QString>>>();
    m_preparation.reset(QThread::create(
        [this, updates = updateList, deltas, prepare = m_deltaPreparation, failures] {
            for (const int index : deltas) {
                if (m_preparationCancelled)
                    return;
                const QString name = updates.at(index).name();
                // Percentages reach the window through its event loop, each
                // one once.
                int shown = -1;
                const PreparationProgress progress = [this, &name, &shown](qint64 done,
                                                                          qint64 total) {
                    const int percent = total > 0 ? int(done * 100 / total) : 100;
                    if (percent == shown)
                        return;
                    shown = percent;
                    QMetaObject::invokeMethod(
                        this, [this, name, percent] { emit preparing(name, percent); },
                        Qt::QueuedConnection);
                };
                progress(0, 1);
                QString reason;
                if (!prepare || !prepare(updates.at(index), index, m_preparationCancelled,
                                         progress, &reason))
                    failures->append({index, reason});
            }
        }));
    connect(m_preparation.get(), &QThread::finished, this,
            [this, failures] { deltasPrepared(*failures); });
    m_preparation->start();
}

void VemoUpdaterEngine::deltasPrepared(const QVector<QPair<int, QString>> &failures)
{
    // A cancelled run ends in silence.
    if (m_preparationCancelled)
        return;
    for (const auto &[index, reason] : failures)
        fallBack(index, reason);
    if (m_fallbacks.isEmpty()) {
        emit downloadFinished();
        return;
    }
    std::sort(m_fallbacks.begin(), m_fallbacks.end());
    QVector<UpdateInfo> fullPackages;
    for (const int index : std::as_const(m_fallbacks))
        fullPackages.append(updateList.at(index));
    m_fallbackRound = true;
    download.begin(fullPackages);
}

void VemoUpdaterEngine::abortDownload()
{
    download.abort();
    m_preparationCancelled = true;
}

void VemoUpdaterEngine::installUpdates()
{
    Q_ASSERT(m_installation);
    if (m_installation)
        m_installation(*this);
}

void VemoUpdaterEngine::finishInstall(const QByteArray &log, bool succeeded, const QString &outcome)
{
    m_installLog = log;
    m_installSucceeded = succeeded;
    m_installOutcome = outcome;
    emit installFinished();
}
