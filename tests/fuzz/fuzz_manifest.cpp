// The package manifest, read and applied: the input is the manifest of an
// "app" package whose archive holds a few files, installed into a scratch
// installation that holds files, a folder, and links that point outside it.
// Whatever the manifest says, nothing outside the installation may change,
// and taking the package back must leave the installation exactly as it was.

#include "engine/removetree.h"
#include "engine/updateinfo.h"
#include "engine/updaterpaths.h"
#include "fuzzsupport.h"
#include "install/compactstringlist.h"
#include "install/manifestreader.h"
#include "install/packageinstaller.h"
#include "treelisting.h"
#include "zipwriter.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <unistd.h>

namespace {

struct Layout
{
    QString scratch;
    QString root;
    QString work;
    QString outside;
    UpdaterPaths paths;
};

const Layout &layout()
{
    static const Layout made = [] {
        Layout l;
        l.scratch = Fuzz::scratchDirectory() + QStringLiteral("/manifest");
        const QString dir = Fuzz::deepDirectory(QStringLiteral("manifest"));
        l.root = dir + QStringLiteral("/install");
        l.work = dir + QStringLiteral("/work");
        l.outside = dir + QStringLiteral("/outside");
        Fuzz::require(writeFile(l.root + "/vemo7.exe", "#!/bin/sh\n")
                          && writeFile(l.root + "/a.txt", "old a\n")
                          && writeFile(l.root + "/dir/b.txt", "old b\n")
                          && writeFile(l.outside + "/secret.txt", "outside\n")
                          && writeFile(l.root + "-sibling/c.txt", "sibling\n")
                          && QDir().mkpath(l.work),
                      "the scratch installation");
        Fuzz::require(
            ::symlink("../outside", QFile::encodeName(l.root + "/linkdir").constData()) == 0
                && ::symlink(QFile::encodeName(l.outside + "/secret.txt").constData(),
                             QFile::encodeName(l.root + "/linkfile").constData())
                       == 0,
            "links out of the installation");
        Fuzz::ensureApplication();
        l.paths.hasInstallDir = true;
        l.paths.installDir = l.root;
        return l;
    }();
    return made;
}

// Whether every "file" element's path stays within reach: one that climbs
// further than this target lets an input climb is not tried, because a
// fault would then reach outside the scratch directory.
bool tame(const QByteArray &manifest)
{
    QXmlStreamReader reader(manifest);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString joined = ManifestReader::value(reader.attributes(), QLatin1String("path"))
                               + QLatin1Char('/')
                               + ManifestReader::value(reader.attributes(), QLatin1String("name"));
        if (joined.split(QLatin1Char('/')).count(QStringLiteral("..")) > Fuzz::MaxClimb)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Layout &l = layout();
    static const QStringList rootBefore = treeListing(l.root);
    static const QStringList scratchBefore = [&] {
        QStringList listing = treeListing(l.scratch);
        listing.removeIf([](const QString &line) { return line.contains(QLatin1String("/work")); });
        return listing;
    }();

    const QByteArray manifest(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!tame(manifest))
        return 0;
    {
        // Where the download saves the archive of ".../core.zip".
        QDir().mkpath(l.work + QStringLiteral("/archives"));
        ZipWriter zip(l.work + QStringLiteral("/archives/core.zip"));
        Fuzz::require(zip.isOpen() && zip.addFile("core.xml", manifest, ZipWriter::Stored)
                          && zip.addFile("a.txt", "new a\n") && zip.addFile("dir/b.txt", "new b\n")
                          && zip.addFile("new/c.txt", "new c\n", ZipWriter::Deflated, 0755)
                          && zip.addFile("linkdir/secret.txt", "replaced\n")
                          && zip.addFile("vcredist.txt", "not run\n") && zip.close(),
                      "the package is written");
    }

    const UpdateInfo record(QStringLiteral("vemo"), QStringLiteral("core"), QStringLiteral("app"),
                            QStringLiteral("2"), QString(), QString(),
                            QStringLiteral("http://127.0.0.1/core.zip"));
    {
        PackageInstaller installer(record, l.paths);
        CompactStringList installed;
        installer.install(l.work, &installed);
        const bool restored = installer.restore();
        if (!restored)
            std::fprintf(stderr, "restore: %s\n", qPrintable(installer.errorString()));
        Fuzz::require(restored, "the package is taken back");
        installer.removeBackups();
    }
    removeTree(l.work + QStringLiteral("/unpack"));

    QStringList scratch = treeListing(l.scratch);
    scratch.removeIf([](const QString &line) { return line.contains(QLatin1String("/work")); });
    if (treeListing(l.root) != rootBefore || scratch != scratchBefore) {
        for (const QString &line : treeListing(l.scratch))
            std::fprintf(stderr, "  %s\n", qPrintable(line));
    }
    Fuzz::require(scratch == scratchBefore, "nothing outside the installation changed");
    Fuzz::require(treeListing(l.root) == rootBefore, "the installation is as it was");
    return 0;
}
