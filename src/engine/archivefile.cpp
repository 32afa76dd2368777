#include "archivefile.h"

#include "archivedigest.h"

#include <QFileInfo>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// Blocks written but not hashed yet may hold this much at most; the writer
// waits when the hashing falls that far behind.
constexpr qsizetype MaxPendingBytes = 4 * 1024 * 1024;

} // namespace

// Feeds the digest on a thread of its own with copies of the blocks written.
class ArchiveFile::Hasher
{
public:
    Hasher()
        : m_thread([this] { run(); })
    {
    }

    ~Hasher()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void add(const char *data, qint64 size)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_pendingBytes < MaxPendingBytes; });
        m_pending.emplace_back(data, qsizetype(size));
        m_pendingBytes += size;
        m_changed.notify_all();
    }

    QByteArray result()
    {
        waitUntilIdle();
        return m_digest.hexResult();
    }

    void reset()
    {
        waitUntilIdle();
        m_digest.reset();
    }

private:
    void waitUntilIdle()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_pending.empty() && !m_hashing; });
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stop || !m_pending.empty(); });
            if (m_pending.empty())
                return;
            const QByteArray block = std::move(m_pending.front());
            m_pending.pop_front();
            m_hashing = true;
            lock.unlock();
            m_digest.addData(block.constData(), block.size());
            lock.lock();
            m_hashing = false;
            m_pendingBytes -= block.size();
            m_changed.notify_all();
        }
    }

    // Touched by the hashing thread only while it hashes, by the others only
    // when it is idle.
    ArchiveDigest m_digest;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_pending;
    qsizetype m_pendingBytes = 0;
    bool m_hashing = false;
    bool m_stop = false;
    std::thread m_thread;
};

ArchiveFile::ArchiveFile()
    : m_hasher(std::make_unique<Hasher>())
{
}

ArchiveFile::~ArchiveFile() = default;

bool ArchiveFile::openForDownload()
{
    m_hasher->reset();
    m_written = 0;
    return open(QIODevice::WriteOnly | QIODevice::Truncate);
}

bool ArchiveFile::restartDownload()
{
    m_hasher->reset();
    m_written = 0;
    return resize(0) && seek(0);
}

QByteArray ArchiveFile::hexDigest() const
{
    return m_hasher->result();
}

qint64 ArchiveFile::writeData(const char *data, qint64 size)
{
    const qint64 written = QFile::writeData(data, size);
    // Only what reached the file counts; a short write fails the download.
    if (written > 0) {
        m_hasher->add(data, written);
        m_written += written;
    }
    return written;
}

qint64 ArchiveFile::receivedSize() const
{
    const QFileInfo info(fileName());
    return info.isFile() ? info.size() : m_written;
}
