#include "hostcommand.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTest>

int runServerScript(const QString &kind, const QStringList &arguments)
{
#ifndef Q_OS_WIN
    const QString script = kind == QLatin1String("proxy")
                               ? QStringLiteral(VEMO_SOURCE_DIR "/tools/proxy/vemo-proxy")
                               : QStringLiteral(VEMO_SOURCE_DIR "/tools/webserver/vemo-webserver");
    return QProcess::execute(script, arguments);
#else
    QString runner = qEnvironmentVariable("VEMO_HOST_RUNNER");
    if (runner.isEmpty()) {
        qWarning("VEMO_HOST_RUNNER is not set: no host runner for the %s script",
                 qPrintable(kind));
        return -1;
    }
    if (runner.startsWith(QLatin1Char('/')))
        runner.prepend(QLatin1String("Z:")); // Wine's drive for the host's root
    static QAtomicInt requests;
    const QString name = QStringLiteral("%1/%2-%3")
                             .arg(runner)
                             .arg(QCoreApplication::applicationPid())
                             .arg(requests.fetchAndAddRelaxed(1));
    QSaveFile request(name + QStringLiteral(".request"));
    if (!request.open(QIODevice::WriteOnly)
        || request.write((QStringList{kind} + arguments).join(QLatin1Char('\n')).toUtf8() + '\n')
               < 0
        || !request.commit())
        return -1;
    QFile result(name + QStringLiteral(".result"));
    if (!QTest::qWaitFor([&] { return result.exists(); }, 60000))
        return -1;
    if (!result.open(QIODevice::ReadOnly))
        return -1;
    const int code = result.readAll().trimmed().toInt();
    result.close();
    result.remove();
    QFile::remove(name + QStringLiteral(".log"));
    return code;
#endif
}
