// Feeds every file of the corpus directories (or single files) named on the
// command line to the fuzz target once, the way libFuzzer replays a corpus,
// so that the ordinary build can run the seeds as a test without clang.

#include "fuzzsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QStringList inputs;
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                inputs << it.next();
        } else {
            inputs << path;
        }
    }
    inputs.sort();
    if (inputs.isEmpty()) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...: no inputs found\n", argv[0]);
        return 2;
    }
    for (const QString &path : std::as_const(inputs)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray data = file.readAll();
        std::fprintf(stderr, "input %s (%lld bytes)\n", qPrintable(path), qlonglong(data.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()),
                               size_t(data.size()));
    }
    std::printf("%lld input(s) replayed without a fault\n", qlonglong(inputs.size()));
    return 0;
}
