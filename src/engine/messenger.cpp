#include "messenger.h"

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
    QProcess messenger;
    messenger.setProcessChannelMode(QProcess::MergedChannels);
    // Program and argument are passed apart, so a path with blanks or quotes
    // reaches the system unchanged and the messenger sees one argument.
    messenger.start(executablePath(installDir), {QStringLiteral("-updatequery")},
                    QIODevice::ReadWrite);

    QDeadlineTimer deadline(timeoutMs);
    if (!messenger.waitForStarted(int(deadline.remainingTime())))
        return QByteArray();
    if (!messenger.waitForFinished(int(deadline.remainingTime()))) {
        messenger.kill();
        messenger.waitForFinished(5000);
        return QByteArray();
    }
    return messenger.readAll();
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

} // namespace Messenger
