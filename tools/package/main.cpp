// vemo-package: writes package manifests and builds update packages.

#include "archivedigest.h"
#include "deltabuilder.h"
#include "packagebuilder.h"
#include "packagecommandline.h"
#include "packagemanifest.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void printText(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString &message)
{
    printText(stderr, QStringLiteral("vemo-package: %1\n").arg(message));
    return 1;
}

PackageManifest manifestFrom(const PackageCommandLine &commandLine)
{
    PackageManifest manifest(commandLine.value(QStringLiteral("project")),
                             commandLine.value(QStringLiteral("name")),
                             commandLine.value(QStringLiteral("type")));
    for (const PackageManifest::File &file : commandLine.files())
        manifest.addFile(file);
    return manifest;
}

int writeManifest(const PackageCommandLine &commandLine)
{
    const QByteArray xml = manifestFrom(commandLine).toXml();
    if (!commandLine.isSet(QStringLiteral("out"))) {
        std::fwrite(xml.constData(), 1, size_t(xml.size()), stdout);
        std::fflush(stdout);
        return std::ferror(stdout) ? fail(QStringLiteral("cannot write to standard output")) : 0;
    }
    const QString path = commandLine.value(QStringLiteral("out"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(xml) != xml.size() || !file.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return 0;
}

int buildPackage(const PackageCommandLine &commandLine)
{
    const QString out = commandLine.value(QStringLiteral("out"));
    PackageBuilder builder(commandLine.value(QStringLiteral("folder")), out);
    if (commandLine.isSet(QStringLiteral("url-path")))
        builder.setUrlPath(commandLine.value(QStringLiteral("url-path")));
    if (commandLine.isSet(QStringLiteral("stored")))
        builder.setMethod(ZipWriter::Stored);
    if (commandLine.isSet(QStringLiteral("manifest"))) {
        const QString path = commandLine.value(QStringLiteral("manifest"));
        QFile manifest(path);
        if (!manifest.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("Cannot read the manifest %1: %2")
                            .arg(path, manifest.errorString()));
        builder.setManifest(manifest.readAll());
    } else {
        builder.setGeneratedManifest(manifestFrom(commandLine));
    }
    if (!builder.build())
        return fail(builder.errorString());
    const QStringList entries = builder.entryNames();
    // The catalogue describes each package by its size and SHA-256; print
    // both as the catalogue's elements.
    QByteArray digest;
    QString error;
    if (!ArchiveDigest::ofFile(out, &digest, &error))
        return fail(QStringLiteral("Cannot read back %1: %2").arg(out, error));
    printText(stdout, QStringLiteral("Wrote %1: manifest %2 and %3 file(s)\n"
                                     "<size>%4</size>\n<sha256>%5</sha256>\n")
                          .arg(out, entries.first())
                          .arg(entries.size() - 1)
                          .arg(QFileInfo(out).size())
                          .arg(QString::fromLatin1(digest)));
    return 0;
}

// The size of the full package of the new version: --full, the new
// version itself when it is a package, or one built from its folder.
qint64 fullPackageSize(const PackageCommandLine &commandLine, const DeltaBuilder &delta)
{
    if (commandLine.isSet(QStringLiteral("full")))
        return QFileInfo(commandLine.value(QStringLiteral("full"))).size();
    const QString to = commandLine.value(QStringLiteral("to"));
    if (QFileInfo(to).isFile())
        return QFileInfo(to).size();
    QTemporaryDir scratch;
    const QString out = scratch.path() + QStringLiteral("/full.zip");
    PackageBuilder builder(to, out);
    builder.setGeneratedManifest(PackageManifest(delta.project(), delta.name(), delta.type()));
    return builder.build() ? QFileInfo(out).size() : -1;
}

int buildDelta(const PackageCommandLine &commandLine)
{
    const QString out = commandLine.value(QStringLiteral("out"));
    DeltaBuilder delta(commandLine.value(QStringLiteral("from")),
                       commandLine.value(QStringLiteral("to")), out);
    if (commandLine.isSet(QStringLiteral("name")))
        delta.setIdentity(commandLine.value(QStringLiteral("project")),
                          commandLine.value(QStringLiteral("name")),
                          commandLine.value(QStringLiteral("type")));
    if (commandLine.isSet(QStringLiteral("url-path")))
        delta.setUrlPath(commandLine.value(QStringLiteral("url-path")));
    if (commandLine.isSet(QStringLiteral("level")))
        delta.setLevel(commandLine.value(QStringLiteral("level")).toInt());
    if (!delta.build())
        return fail(delta.errorString());
    QByteArray digest;
    QString error;
    if (!ArchiveDigest::ofFile(out, &digest, &error))
        return fail(QStringLiteral("Cannot read back %1: %2").arg(out, error));
    const DeltaBuilder::Counts counts = delta.counts();
    const qint64 size = QFileInfo(out).size();
    const qint64 full = fullPackageSize(commandLine, delta);
    printText(stdout,
              QStringLiteral("Wrote %1: %2 patched, %3 whole, %4 removed, %5 unchanged\n"
                             "<size>%6</size>\n<sha256>%7</sha256>\n")
                  .arg(out)
                  .arg(counts.patched)
                  .arg(counts.added)
                  .arg(counts.removed)
                  .arg(counts.unchanged)
                  .arg(size)
                  .arg(QString::fromLatin1(digest)));
    if (full > 0) {
        printText(stdout, QStringLiteral("Delta %1 bytes, full package %2 bytes: %3 %\n")
                              .arg(size)
                              .arg(full)
                              .arg(100.0 * double(size) / double(full), 0, 'f', 1));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PackageCommandLine commandLine;
    if (!commandLine.parse(QCoreApplication::arguments().mid(1)))
        return fail(commandLine.errorString() + QStringLiteral("\n") + PackageCommandLine::usage());
    switch (commandLine.command()) {
    case PackageCommandLine::Help:
        printText(stdout, PackageCommandLine::usage());
        return 0;
    case PackageCommandLine::Manifest:
        return writeManifest(commandLine);
    case PackageCommandLine::Build:
        return buildPackage(commandLine);
    case PackageCommandLine::Delta:
        return buildDelta(commandLine);
    }
    return 1;
}
