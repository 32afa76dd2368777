#include "messenger.h"

#include "platform/processes.h"

#include "runlog.h"

#include <QDeadlineTimer>
#include <QProcess>


namespace {
const QByteArray QueryStart("<s>");
const QByteArray QueryEnd("</s>");
} // namespace

namespace Messenger {

bool installationDirectory(const QStringList &arguments, QString *dir)
{
    const qsizetype index = arguments.indexOf(QStringLiteral("-root"));
    if (index < 0 || index + 1 >= arguments.size())
        return false;
    *dir = arguments.at(index + 1);
    return true;
}

QString executablePath(const QString &installDir)
{
    return installDir + QStringLiteral("/vemo7.exe");
}

QByteArray runUpdateQuery(const QString &installDir, int timeoutMs)
{
    // A group of its own, so that whatever it starts goes with it when it
    // has to be stopped. Made before the process, so that it outlives it.
    Platform::ProcessGroup group;
    QProcess messenger;
    messenger.setProcessChannelMode(QProcess::MergedChannels);
    group.prepare(&messenger);
    // Program and argument are passed apart, so a path with blanks or quotes
    // reaches the system unchanged and the messenger sees one argument.
    messenger.start(executablePath(installDir), {QStringLiteral("-updatequery")},
                    QIODevice::ReadWrite);

    QDeadlineTimer deadline(timeoutMs);
    if (!messenger.waitForStarted(int(deadline.remainingTime()))) {
        qCInfo(lcRunLog, "the messenger did not start: %s",
               qUtf8Printable(messenger.errorString()));
        return QByteArray();
    }
    group.started(&messenger);
    const auto stopGroup = [&messenger, &group] {
        qCInfo(lcRunLog, "the messenger was stopped: it ran too long or printed too much");
        group.kill();
        messenger.waitForFinished(5000);
        return QByteArray();
    };

    // Read as it comes, so that neither a full pipe stalls the messenger nor
    // endless output fills memory.
    QByteArray output;
    for (;;) {
        output += messenger.read(MaxOutputBytes + 1 - output.size());
        if (output.size() > MaxOutputBytes)
            return stopGroup();
        if (messenger.state() == QProcess::NotRunning) {
            if (messenger.bytesAvailable() > 0)
                continue;
            // Why it said nothing, for the log a user can send: Windows
            // reports a program that could not load as an exit code
            // (0xc0000135, a DLL not found).
            if (messenger.exitStatus() != QProcess::NormalExit)
                qCInfo(lcRunLog, "the messenger crashed");
            else if (messenger.exitCode() != 0)
                qCInfo(lcRunLog, "the messenger ended with exit code %d (0x%08x)",
                       messenger.exitCode(), uint(messenger.exitCode()));
            return output;
        }
        if (deadline.hasExpired())
            return stopGroup();
        messenger.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QByteArray cutOutQuery(const QByteArray &output)
{
    const qsizetype start = output.indexOf(QueryStart);
    const qsizetype end = output.lastIndexOf(QueryEnd);
    if (start < 0 || end < 0)
        return QByteArray();
    const qsizetype innerStart = start + QueryStart.size();
    if (end < innerStart)
        return QByteArray();
    const QByteArray query = QueryStart + output.mid(innerStart, end - innerStart) + QueryEnd;
    return QString::fromLatin1(query).toUtf8();
}

bool isUsableQuery(const QByteArray &query)
{
    return !query.mid(QueryStart.size(), query.size() - QueryStart.size() - QueryEnd.size())
                .trimmed()
                .isEmpty();
}

} // namespace Messenger
