#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace Fuzz {

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void ensureApplication()
{
    static QList<QByteArray> storage;
    static std::vector<char *> argv;
    static int argc = 0;
    if (QCoreApplication::instance())
        return;
    storage << QByteArray("fuzz");
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    argc = int(storage.size());
    static const std::unique_ptr<QCoreApplication> application(
        new QCoreApplication(argc, argv.data()));
}

QString scratchDirectory()
{
    static QTemporaryDir directory(QDir::tempPath() + QStringLiteral("/vemo-fuzz-XXXXXX"));
    require(directory.isValid(), "a scratch directory can be created");
    return directory.path();
}

QByteArray sourceFile(const char *relativePath)
{
    QFile file(QStringLiteral(VEMO_SOURCE_DIR "/") + QLatin1String(relativePath));
    require(file.open(QIODevice::ReadOnly), relativePath);
    return file.readAll();
}

QString deepDirectory(const QString &name)
{
    QString dir = scratchDirectory() + QLatin1Char('/') + name;
    for (int i = 0; i < Depth; ++i)
        dir += QStringLiteral("/d");
    return dir;
}

} // namespace Fuzz
