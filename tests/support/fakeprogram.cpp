// The stand-in program of fakeprogram.h: runs the script attached to its own
// executable file (or, in a copy it spawned, the one in VEMO_FAKE_SCRIPT).
#include "fakeprogram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

QByteArray attachedScript()
{
    if (qEnvironmentVariableIsSet(FakeProgram::ScriptVariable))
        return qgetenv(FakeProgram::ScriptVariable).replace(';', '\n');
    QFile self(QCoreApplication::applicationFilePath());
    if (!self.open(QIODevice::ReadOnly) || self.size() < FakeProgram::TrailerSize)
        return QByteArray();
    self.seek(self.size() - FakeProgram::TrailerSize);
    const QByteArray trailer = self.read(FakeProgram::TrailerSize);
    if (!trailer.startsWith(FakeProgram::TrailerStart))
        return QByteArray();
    const qint64 length = trailer.mid(sizeof(FakeProgram::TrailerStart) - 1, 10).toLongLong();
    self.seek(self.size() - FakeProgram::TrailerSize - length);
    return self.read(length);
}

QString place(const QByteArray &name)
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QString::fromLocal8Bit(name));
}

bool writeWhole(const QByteArray &name, const QByteArray &content)
{
    QSaveFile file(place(name));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
           && file.commit();
}

void output(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QByteArray parentRecord()
{
#ifdef Q_OS_LINUX
    const QByteArray parent = QByteArray::number(qint64(::getppid()));
    QFile commandLine("/proc/" + parent + "/cmdline");
    if (!commandLine.open(QIODevice::ReadOnly))
        return QByteArray();
    return parent + '\n' + QFile::encodeName(QFile::symLinkTarget("/proc/" + parent + "/exe"))
           + '\n' + commandLine.readAll().replace('\0', '\n');
#else
    return QByteArray();
#endif
}

[[noreturn]] void crash()
{
#ifdef Q_OS_WIN
    // What Windows reports for an access violation, without a debugger
    // being called in.
    ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
#else
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
#endif
    std::abort();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString first = arguments.value(0);

    bool running = true; // outside an "on" section that does not apply
    bool matched = false;
    for (const QByteArray &line : attachedScript().split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray command = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
        const qsizetype restSpace = rest.indexOf(' ');
        const QByteArray name = restSpace < 0 ? rest : rest.left(restSpace);
        const QByteArray text = restSpace < 0 ? QByteArray() : rest.mid(restSpace + 1);

        if (command == "on") {
            running = !matched && (rest == "*" || QString::fromLocal8Bit(rest) == first);
            matched = matched || running;
            continue;
        }
        if (!running || command.isEmpty() || command.startsWith('#'))
            continue;
        if (command == "print") {
            output(rest + '\n');
        } else if (command == "cat") {
            QFile file(place(rest));
            if (!file.open(QIODevice::ReadOnly))
                return 2;
            output(file.readAll());
        } else if (command == "args") {
            QFile file(place(rest));
            if (!file.open(QIODevice::Append))
                return 2;
            for (const QString &argument : arguments)
                file.write(argument.toLocal8Bit() + '|');
            file.write("\n");
        } else if (command == "started") {
            QByteArray record = QByteArray::number(arguments.size()) + '\n';
            for (const QString &argument : arguments)
                record += argument.toLocal8Bit() + '\n';
            record += QFile::encodeName(QDir::current().canonicalPath()) + '\n';
            if (!writeWhole(rest, record))
                return 2;
        } else if (command == "env") {
            const QByteArray value = qEnvironmentVariableIsSet(name.constData())
                                         ? qgetenv(name.constData())
                                         : QByteArray("(unset)");
            if (!writeWhole(text, value + '\n'))
                return 2;
        } else if (command == "pid") {
            if (!writeWhole(rest, QByteArray::number(application.applicationPid()) + '\n'))
                return 2;
        } else if (command == "parent") {
            if (!writeWhole(rest, parentRecord()))
                return 2;
        } else if (command == "spawn") {
            // Left running when this program ends: never deleted.
            auto *child = new QProcess;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(FakeProgram::ScriptVariable, QString::fromLocal8Bit(text));
            child->setProcessEnvironment(environment);
            child->setStandardOutputFile(QProcess::nullDevice());
            child->setStandardErrorFile(QProcess::nullDevice());
            child->start(application.applicationFilePath(), {});
            if (!child->waitForStarted()
                || !writeWhole(name, QByteArray::number(child->processId()) + '\n'))
                return 2;
        } else if (command == "mkdir") {
            if (!QDir().mkpath(place(rest)))
                return 2;
        } else if (command == "write") {
            if (!writeWhole(name, text + '\n'))
                return 2;
        } else if (command == "sleep") {
            QThread::msleep(qulonglong(rest.toDouble() * 1000));
        } else if (command == "crash") {
            crash();
        } else if (command == "exit") {
            return rest.toInt();
        } else {
            std::fprintf(stderr, "fakeprogram: unknown command %s\n", command.constData());
            return 2;
        }
    }
    return 0;
}
