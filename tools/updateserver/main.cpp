// vemo-update-server: answers update queries from a catalogue directory.

#include "answersigner.h"
#include "terminationsignals.h"
#include "updateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int fail(const QString &message)
{
    printLine(stderr, QStringLiteral("vemo-update-server: ") + message);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Answers update queries with the packages described in DIR/catalogue.xml."));
    parser.addHelpOption();
    const QCommandLineOption catalogueOption(QStringLiteral("catalogue"),
                                             QStringLiteral("Directory holding catalogue.xml."),
                                             QStringLiteral("DIR"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Address to listen on."),
                                           QStringLiteral("ADDRESS"),
                                           QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("TCP port (0 picks a free one)."),
                                        QStringLiteral("PORT"), QStringLiteral("18443"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Append one line per connection to FILE."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Milliseconds of silence after which an incomplete query is dropped."),
        QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption keyOption(
        QStringLiteral("key"),
        QStringLiteral("Sign every answer with the private key in FILE (see vemo-sign)."),
        QStringLiteral("FILE"));
    const QCommandLineOption lifetimeOption(
        QStringLiteral("lifetime"),
        QStringLiteral("Seconds for which a signed answer stays valid (may be negative)."),
        QStringLiteral("SECONDS"), QStringLiteral("3600"));
    parser.addOptions({catalogueOption, addressOption, portOption, logOption, timeoutOption,
                       keyOption, lifetimeOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        printLine(stdout, parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    if (!parser.isSet(catalogueOption))
        return fail(QStringLiteral("--catalogue DIR is required"));

    const QString catalogueDir = parser.value(catalogueOption);
    if (!QFileInfo(catalogueDir).isDir())
        return fail(QStringLiteral("catalogue directory %1 does not exist").arg(catalogueDir));
    const QHostAddress address(parser.value(addressOption));
    if (address.isNull())
        return fail(QStringLiteral("%1 is not an IP address").arg(parser.value(addressOption)));
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("%1 is not a TCP port").arg(parser.value(portOption)));
    const int timeout = parser.value(timeoutOption).toInt(&ok);
    if (!ok || timeout <= 0)
        return fail(QStringLiteral("%1 is not a number of milliseconds")
                        .arg(parser.value(timeoutOption)));

    const qint64 lifetime = parser.value(lifetimeOption).toLongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("%1 is not a number of seconds").arg(parser.value(lifetimeOption)));
    AnswerSigner signer;
    if (parser.isSet(keyOption) && !signer.loadKey(parser.value(keyOption)))
        return fail(signer.errorString());

    TerminationSignals terminationSignals;
    if (!terminationSignals.install())
        return fail(QStringLiteral("cannot watch for termination signals: %1")
                        .arg(terminationSignals.errorString()));
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, &QCoreApplication::quit);

    UpdateServer server(catalogueDir);
    server.setIdleTimeout(timeout);
    if (parser.isSet(keyOption))
        server.setSigner(&signer, lifetime);
    if (parser.isSet(logOption) && !server.openLog(parser.value(logOption)))
        return fail(server.errorString());
    if (!server.listen(address, quint16(port)))
        return fail(server.errorString());
    if (!QFileInfo::exists(catalogueDir + QStringLiteral("/catalogue.xml")))
        printLine(stderr, QStringLiteral("vemo-update-server: warning: %1/catalogue.xml does not "
                                         "exist yet; queries get no answer until it does")
                              .arg(catalogueDir));

    printLine(stdout, QStringLiteral("listening on %1:%2")
                          .arg(server.serverAddress().toString())
                          .arg(server.serverPort()));
    const int result = app.exec();
    printLine(stdout, QStringLiteral("stopped"));
    return result;
}
