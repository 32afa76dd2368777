#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>

// Lines meant for the run's log file alone (phases, versions, outcome):
// never printed on standard error, where tests and scripts read what they
// know. Off unless a RunLog is writing.
Q_DECLARE_LOGGING_CATEGORY(lcRunLog)

// The log of one update run that a user can send when something went wrong
// (on Windows nothing reads the updater's standard error): "last-update.log"
// in the state directory, the run before kept as "previous-update.log".
//
// While it writes, it is the program's Qt message handler: every qInfo(),
// qWarning() and so on still goes where it went before (standard error);
// the updater's own lines (its "vemo." categories, and the messages it
// prints, which begin with "updater: ") also go into the file, while Qt's
// own warnings do not; lines of lcRunLog go into the file only. Each line
// is UTF-8, starts with a UTC time stamp and ends with one newline (newlines
// inside a message are written as "\n"). The file grows to maxSize bytes at
// most: the line that would pass the limit is replaced by a last line saying
// that the log was cut, and nothing more is written, by this process or by
// one that continues the run.
//
// A log that cannot be written never stops the update: the run goes on
// without it after one line on standard error.
class RunLog
{
public:
    // How the run's log begins.
    enum class Start {
        // A new run: the last run's log becomes previous-update.log
        // (replacing the older one), and this one starts empty.
        NewRun,
        // The same run in another process (the relocated updater, a Retry
        // restart): appended to the log that the run has begun.
        SameRun,
    };

    static constexpr qint64 MaxSize = 1024 * 1024;
    static const QLatin1String LastName;
    static const QLatin1String PreviousName;

    // The log in stateDir, which the one-updater lock has prepared.
    explicit RunLog(const QString &stateDir, qint64 maxSize = MaxSize);
    ~RunLog();

    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;

    // Opens the file and installs the message handler; call it once, while
    // holding the one-updater lock, so that no other updater writes there.
    void start(Start how);

private:
    // Appends one line with its time stamp. Returns the warning to show when
    // the line could not be written, empty otherwise.
    QString write(const QString &message);
    QString notWritten(const QString &reason) const;
    static void handleMessage(QtMsgType type, const QMessageLogContext &context,
                              const QString &message);
    static void filterCategory(QLoggingCategory *category);
    bool append(const QByteArray &bytes);

    const QString m_dir;
    const qint64 m_maxSize;
    QFile m_file;
    qint64 m_size = 0;
    bool m_writing = false;
    bool m_installed = false;
    QMutex m_mutex;
};

// One phase of the run (the update check, the download, ...) in the log: a
// line when it starts, and one when it ends with its duration and result.
// Ends by itself when destroyed unless finish() ended it already.
class RunPhase
{
public:
    explicit RunPhase(const QString &name);
    ~RunPhase();

    RunPhase(const RunPhase &) = delete;
    RunPhase &operator=(const RunPhase &) = delete;

    void finish(const QString &result = QString());

private:
    const QString m_name;
    QElapsedTimer m_timer;
    bool m_finished = false;
};
