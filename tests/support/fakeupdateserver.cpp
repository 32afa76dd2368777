#include "fakeupdateserver.h"

#include "answerscanner.h"
#include "answersignature.h"
#include "answersigner.h"

#include <QDateTime>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class FakeUpdateServerWorker : public QObject
{
public:
    FakeUpdateServerWorker(FakeUpdateServer *owner, QTcpSocket *socket)
        : QObject(socket)
        , m_owner(owner)
        , m_socket(socket)
    {
        m_quiet.setSingleShot(true);
        m_quiet.setInterval(300);
        connect(&m_quiet, &QTimer::timeout, this, &FakeUpdateServerWorker::answer);
        connect(socket, &QTcpSocket::readyRead, this, &FakeUpdateServerWorker::read);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_quiet.start();
        read();
    }

private:
    void read()
    {
        if (m_answering)
            return;
        m_query += m_socket->readAll();
        if (m_query.contains("</s>"))
            answer();
        else
            m_quiet.start();
    }

    void answer()
    {
        if (m_answering)
            return;
        m_answering = true;
        m_quiet.stop();
        m_owner->recordQuery(m_query);
        m_behaviour = m_owner->behaviour();
        m_behaviour.pieces = FakeUpdateServer::signedPieces(m_behaviour, m_query);
        sendNext();
    }

    void sendNext()
    {
        if (m_next < m_behaviour.pieces.size()) {
            m_socket->write(m_behaviour.pieces.at(m_next++));
            m_socket->flush();
            QTimer::singleShot(m_behaviour.pauseMs, this, &FakeUpdateServerWorker::sendNext);
            return;
        }
        if (m_behaviour.closeAtEnd)
            m_socket->disconnectFromHost();
    }

    FakeUpdateServer *m_owner;
    QTcpSocket *m_socket;
    QTimer m_quiet;
    QByteArray m_query;
    FakeUpdateServer::Behaviour m_behaviour;
    qsizetype m_next = 0;
    bool m_answering = false;
};

FakeUpdateServer::FakeUpdateServer()
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

FakeUpdateServer::~FakeUpdateServer()
{
    // The server and its connections belong to the server's thread and are
    // deleted there.
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_server; m_server = nullptr; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

bool FakeUpdateServer::listen(const QHostAddress &address, quint16 port)
{
    bool listening = false;
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            m_server = new QTcpServer;
            listening = m_server->listen(address, port);
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket *socket = m_server->nextPendingConnection())
                    new FakeUpdateServerWorker(this, socket);
            });
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

void FakeUpdateServer::setBehaviour(const Behaviour &behaviour)
{
    QMutexLocker lock(&m_mutex);
    m_behaviour = behaviour;
}

FakeUpdateServer::Behaviour FakeUpdateServer::behaviour() const
{
    QMutexLocker lock(&m_mutex);
    return m_behaviour;
}

QList<QByteArray> FakeUpdateServer::queries() const
{
    QMutexLocker lock(&m_mutex);
    return m_queries;
}

void FakeUpdateServer::recordQuery(const QByteArray &query)
{
    QMutexLocker lock(&m_mutex);
    m_queries.append(query);
}

QList<QByteArray> FakeUpdateServer::signedPieces(const Behaviour &behaviour,
                                                 const QByteArray &query)
{
    const QByteArray document = behaviour.pieces.join();
    AnswerScanner scanner;
    if (!behaviour.sign || scanner.scan(document) != AnswerScanner::Complete
        || scanner.unitWidth() != 1)
        return behaviour.pieces;
    AnswerSigner signer;
    QByteArray stamped;
    QByteArray signedAnswer;
    QString error;
    if (!signer.loadKey(behaviour.signWith.isEmpty() ? QStringLiteral(VEMO_TEST_KEY_FILE)
                                                     : behaviour.signWith)
        || !AnswerSigner::stamp(document,
                                QDateTime::currentSecsSinceEpoch() + behaviour.lifetimeSeconds,
                                AnswerSignature::queryHash(query), &stamped, &error)
        || !signer.sign(stamped, &signedAnswer)) {
        qWarning("FakeUpdateServer: cannot sign: %s %s", qPrintable(error),
                 qPrintable(signer.errorString()));
        return behaviour.pieces;
    }
    // Bytes after the root element are not signed but still sent.
    signedAnswer += document.mid(scanner.rootEnd());
    QList<QByteArray> pieces;
    qsizetype end = signedAnswer.size();
    for (qsizetype i = behaviour.pieces.size() - 1; i > 0; --i) {
        const qsizetype size = qMin(behaviour.pieces.at(i).size(), end);
        pieces.prepend(signedAnswer.mid(end - size, size));
        end -= size;
    }
    pieces.prepend(signedAnswer.left(end));
    return pieces;
}
