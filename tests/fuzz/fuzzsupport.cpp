#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

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
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static const std::unique_ptr<QCoreApplication> application(
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv));
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

} // namespace Fuzz
