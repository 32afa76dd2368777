// A stand-in for the messenger's main executable, "vemo7.exe". Run with
// "-updatequery" it prints the update query for the components recorded
// beside it and in the user's plug-in folder; run any other way it records
// that it was started and exits.

#include "componentlist.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

const char *const QuerySwitch = "-updatequery";
const char *const StartRecordName = "vemo7.started";

void printLine(std::FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int printUpdateQuery()
{
    ComponentList list;
    list.addDirectory(QCoreApplication::applicationDirPath());
    if (qEnvironmentVariableIsSet("APPDATA"))
        list.addDirectory(qEnvironmentVariable("APPDATA") + QStringLiteral("/Vemo/plugins"));
    for (const QString &note : list.notes())
        printLine(stderr, "vemo7: " + note.toLocal8Bit());
    printLine(stdout, "Vemo 7 stand-in: " + QByteArray::number(list.components().size())
                          + " component(s) installed");
    printLine(stdout, list.query());
    printLine(stdout, "Vemo 7 stand-in: update query done");
    return 0;
}

int recordStart(const QStringList &arguments)
{
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                         + QLatin1String(StartRecordName);
    QFile record(path);
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append)) {
        printLine(stderr, QStringLiteral("vemo7: cannot write %1: %2")
                              .arg(path, record.errorString())
                              .toLocal8Bit());
        return 1;
    }
    const QByteArray line = "started\t"
                            + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\t'
                            + arguments.join(QLatin1Char(' ')).toUtf8() + '\n';
    if (record.write(line) != line.size() || !record.flush()) {
        printLine(stderr, QStringLiteral("vemo7: cannot write %1: %2")
                              .arg(path, record.errorString())
                              .toLocal8Bit());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QLatin1String(QuerySwitch)))
        return printUpdateQuery();
    return recordStart(arguments);
}
