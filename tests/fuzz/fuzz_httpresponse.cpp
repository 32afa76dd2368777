// The download server's responses: a server on loopback answers the
// download's HEAD and GET requests with the input's bytes, raw, and the
// package download (HTTP client, header checks, size and checksum checks)
// must end exactly once, within its time, and keep only an archive that
// matches what was announced.
//
// Input: one byte of switches, then the bytes of the response to HEAD
// requests, then the line "--GET--" and the response to GET requests (the
// same bytes answer both when that line is missing).
//   bit 0: the update gives the archive's size and SHA-256 (of "hello")
//   bit 1: two updates instead of one

#include "buildconfig.h"
#include "engine/packagedownload.h"
#include "engine/updateinfo.h"
#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QByteArray Separator = "\n--GET--\n";
const QByteArray Archive = "hello";
// The window of the download's stall floor: it gives up on silence after this;
// the server never stays silent, so a run that takes longer than the guard is
// a hang. Short, as inputs that leave the client waiting (a chunked body cut
// short, say) wait this long on each of their tries.
constexpr int StallWindowMs = 300;
constexpr int GuardMs = 20000;
// Failed GETs are tried again as in the updater, only without the pauses
// between tries, which would make most inputs take seconds.
constexpr int FirstRetryPauseMs = 1;

class ResponseServer
{
public:
    ResponseServer()
    {
        Fuzz::ensureApplication();
        Fuzz::require(m_server.listen(QHostAddress::LocalHost, VEMO_DOWNLOAD_PORT),
                      "the download port is free for the fuzz server");
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    }

    void setResponses(const QByteArray &head, const QByteArray &get)
    {
        m_head = head;
        m_get = get;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                QByteArray &request = m_requests[socket];
                request += socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->write(request.startsWith("HEAD ") ? m_head : m_get);
                m_requests.remove(socket);
                socket->disconnectFromHost();
            });
        }
    }

    QTcpServer m_server;
    QByteArray m_head;
    QByteArray m_get;
    QHash<QTcpSocket *, QByteArray> m_requests;
};

UpdateInfo update(const QString &name, bool withDigests)
{
    return UpdateInfo(
        QStringLiteral("vemo"), name, QStringLiteral("app"), QStringLiteral("7.1"), QString(),
        QString(), "http://127.0.0.1/" + name + ".zip", withDigests ? Archive.size() : -1,
        withDigests ? QCryptographicHash::hash(Archive, QCryptographicHash::Sha256).toHex()
                    : QByteArray());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ResponseServer server;
    if (size == 0)
        return 0;
    const uchar switches = data[0];
    const QByteArray responses(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype split = responses.indexOf(Separator);
    if (split < 0)
        server.setResponses(responses, responses);
    else
        server.setResponses(responses.left(split), responses.mid(split + Separator.size()));

    const bool withDigests = switches & 1;
    QVector<UpdateInfo> updates{update(QStringLiteral("core"), withDigests)};
    if (switches & 2)
        updates.append(update(QStringLiteral("emoji"), withDigests));

    const QString workDir = Fuzz::scratchDirectory();
    PackageDownload download(workDir);
    download.setStallWindow(StallWindowMs);
    download.setFirstRetryPause(FirstRetryPauseMs);

    QEventLoop loop;
    int ends = 0;
    bool finished = false;
    QObject::connect(&download, &PackageDownload::finished, &loop, [&] {
        ++ends;
        finished = true;
        loop.quit();
    });
    QObject::connect(&download, &PackageDownload::failed, &loop, [&] {
        ++ends;
        loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(GuardMs);

    download.begin(updates);
    if (ends == 0)
        loop.exec();
    Fuzz::require(ends > 0, "the download ends within its time");
    // Late signals of a request (a completion after the end) would show here.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    Fuzz::require(ends == 1, "the download ends exactly once");

    // The download saves each archive below "archives/" at its link's path.
    const QString archives = workDir + QStringLiteral("/archives/");
    if (finished) {
        for (const UpdateInfo &u : std::as_const(updates)) {
            QFile archive(archives + u.name() + ".zip");
            Fuzz::require(archive.open(QIODevice::ReadOnly), "a finished download kept its archive");
            if (withDigests)
                Fuzz::require(archive.readAll() == Archive, "a verified archive is the one announced");
        }
    }
    for (const QString &name : QDir(archives).entryList(QDir::Files | QDir::Hidden))
        QFile::remove(archives + name);
    return 0;
}
