#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

class QTcpServer;

// "size" and "sha256" elements for answers of tests that never download the
// archive: an updater with keys refuses updates without them.
inline const QByteArray AnyArchiveDigests =
    "<size>1</size><sha256>" + QByteArray(64, 'a') + "</sha256>";

// An update server for tests that need answers the stand-in server would
// never give: an answer in pieces with pauses, an early close, silence.
// It runs in its own thread, because the update check blocks the thread
// that calls it.
//
// Each connection: the query is read until it holds "</s>" or nothing more
// arrives for 300 ms; then the pieces are written with the pause between
// them; then the connection is closed, or left open and silent.
//
// Like a real server, it signs every answer that forms a complete document
// with the test-only release key (tests/keys/), stamped with an expiry an
// hour ahead and the hash of the query it received; the growth goes into the
// first piece, so the other pieces keep their sizes. Set sign to false for
// an unsigned answer, or signWith to sign with another key file.
class FakeUpdateServer
{
public:
    struct Behaviour
    {
        QList<QByteArray> pieces;
        int pauseMs = 0;
        bool closeAtEnd = true;
        bool sign = true;
        QString signWith;
        qint64 lifetimeSeconds = 3600;
    };

    FakeUpdateServer();
    ~FakeUpdateServer();

    FakeUpdateServer(const FakeUpdateServer &) = delete;
    FakeUpdateServer &operator=(const FakeUpdateServer &) = delete;

    bool listen(const QHostAddress &address, quint16 port);

    void setBehaviour(const Behaviour &behaviour);
    void answerWith(const QByteArray &document) { setBehaviour({{document}, 0, true}); }
    void answerUnsignedWith(const QByteArray &document)
    {
        setBehaviour({{document}, 0, true, false});
    }

    // The answer as the server sends it for this query.
    static QList<QByteArray> signedPieces(const Behaviour &behaviour, const QByteArray &query);

    // Queries received so far, one per connection, in order.
    QList<QByteArray> queries() const;

private:
    friend class FakeUpdateServerWorker;
    Behaviour behaviour() const;
    void recordQuery(const QByteArray &query);

    mutable QMutex m_mutex;
    Behaviour m_behaviour;
    QList<QByteArray> m_queries;
    QThread m_thread;
    QObject *m_context = nullptr;
    QTcpServer *m_server = nullptr;
};
