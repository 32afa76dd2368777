#include "runlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcRunLog, "vemo.runlog", QtWarningMsg)

namespace {

RunLog *activeLog = nullptr;
QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;

// The last line of a log that reached its limit, after the time stamp.
QByteArray cutText(qint64 maxSize)
{
    return "the log was cut here, at its limit of " + QByteArray::number(maxSize)
           + " bytes; nothing more of this run is written\n";
}

// A time stamp of fixed length, so that the room the last line needs is
// known before it is written.
QByteArray timeStamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1() + ' ';
}

// The log's name for the place, with the separators of the system.
QString shown(const QFile &file)
{
    return QDir::toNativeSeparators(file.fileName());
}

} // namespace

const QLatin1String RunLog::LastName("last-update.log");
const QLatin1String RunLog::PreviousName("previous-update.log");

RunLog::RunLog(const QString &stateDir, qint64 maxSize)
    : m_dir(stateDir.endsWith(QLatin1Char('/')) ? stateDir : stateDir + QLatin1Char('/'))
    , m_maxSize(maxSize)
{
}

RunLog::~RunLog()
{
    if (m_installed) {
        qInstallMessageHandler(previousHandler);
        activeLog = nullptr;
        QLoggingCategory::installFilter(previousFilter);
    }
}

void RunLog::start(Start how)
{
    Q_ASSERT(!m_installed && !activeLog);
    const QString last = m_dir + LastName;
    m_file.setFileName(last);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (how == Start::NewRun) {
        // QFile::rename() replaces nothing. When the older log cannot go,
        // the last one is overwritten rather than kept: this run's log is
        // the one a user will send.
        const QString previous = m_dir + PreviousName;
        QFile::remove(previous);
        QFile::rename(last, previous);
        mode |= QIODevice::Truncate;
    } else {
        mode |= QIODevice::Append;
        // A log that the run's first process cut stays cut.
        QFile existing(last);
        const QByteArray cut = cutText(m_maxSize);
        if (existing.open(QIODevice::ReadOnly) && existing.size() >= cut.size()
            && existing.seek(existing.size() - cut.size()) && existing.read(cut.size()) == cut) {
            return;
        }
    }
    if (!m_file.open(mode, QFile::ReadOwner | QFile::WriteOwner)) {
        qWarning("%s", qUtf8Printable(notWritten(m_file.errorString())));
        m_file.close();
        return;
    }
    m_size = m_file.size();
    m_writing = true;

    activeLog = this;
    m_installed = true;
    previousHandler = qInstallMessageHandler(handleMessage);
    previousFilter = QLoggingCategory::installFilter(filterCategory);
}

QString RunLog::write(const QString &message)
{
    QString failure;
    {
        QMutexLocker locker(&m_mutex);
        if (!m_writing)
            return QString();
        QString text = message;
        text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        const QByteArray stamp = timeStamp();
        const QByteArray line = stamp + text.toUtf8() + '\n';
        const QByteArray cut = stamp + cutText(m_maxSize);
        if (m_size + line.size() + cut.size() <= m_maxSize) {
            if (append(line))
                return QString();
        } else if (m_size + cut.size() > m_maxSize || append(cut)) {
            m_writing = false;
            m_file.close();
            return QString();
        }
        failure = m_file.errorString();
        m_writing = false;
        m_file.close();
    }
    return notWritten(failure);
}

bool RunLog::append(const QByteArray &bytes)
{
    if (m_file.write(bytes) != bytes.size())
        return false;
    m_size += bytes.size();
    return true;
}

QString RunLog::notWritten(const QString &reason) const
{
    return QStringLiteral("updater: the log of this run cannot be written to %1 (%2); the update "
                          "goes on without it")
        .arg(shown(m_file), reason);
}

void RunLog::handleMessage(QtMsgType type, const QMessageLogContext &context,
                           const QString &message)
{
    const bool logOnly = context.category && qstrcmp(context.category, "vemo.runlog") == 0;
    // The file holds the updater's own lines: those of its categories and
    // the ones it prints itself, all of which begin with "updater: ". Qt's
    // warnings (the platform plug-in's, fonts') go on standard error only.
    const bool ours = (context.category && qstrncmp(context.category, "vemo.", 5) == 0)
                      || message.startsWith(QLatin1String("updater: "));
    const QString failure = activeLog && ours ? activeLog->write(message) : QString();
    if (!logOnly)
        previousHandler(type, context, message);
    // Straight to the handler before: a message sent from inside a handler
    // would bypass any handler.
    if (!failure.isEmpty()) {
        const QMessageLogContext plain(nullptr, 0, nullptr, "default");
        previousHandler(QtWarningMsg, plain, failure);
    }
}

void RunLog::filterCategory(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrcmp(category->categoryName(), "vemo.runlog") == 0)
        category->setEnabled(QtInfoMsg, activeLog != nullptr);
}

RunPhase::RunPhase(const QString &name)
    : m_name(name)
{
    m_timer.start();
    qCInfo(lcRunLog, "phase %s: started", qUtf8Printable(m_name));
}

RunPhase::~RunPhase()
{
    finish();
}

void RunPhase::finish(const QString &result)
{
    if (m_finished)
        return;
    m_finished = true;
    const QString took = QString::number(double(m_timer.elapsed()) / 1000.0, 'f', 3);
    if (result.isEmpty())
        qCInfo(lcRunLog, "phase %s: ended after %s s", qUtf8Printable(m_name),
               qUtf8Printable(took));
    else
        qCInfo(lcRunLog, "phase %s: ended after %s s: %s", qUtf8Printable(m_name),
               qUtf8Printable(took), qUtf8Printable(result));
}
