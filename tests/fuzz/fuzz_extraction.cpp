// Archive extraction: the input is a zip archive, unpacked into a scratch
// directory. Whatever its entry names and contents, nothing may be written
// anywhere but below the unpack directory (a sibling whose name starts like
// it included), nothing there may be a link, no more may be written than
// the archive's entries declare, and what was unpacked can be removed again.

#include "engine/removetree.h"
#include "fuzzsupport.h"
#include "install/archiveextractor.h"
#include "install/compactstringlist.h"
#include "treelisting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <minizip/unzip.h>

namespace {

struct Layout
{
    QString scratch;
    QString archive;
    QString unpack;
    QStringList around; // the scratch directory's listing, the unpack directory left out
};

const Layout &layout()
{
    static const Layout made = [] {
        Layout l;
        l.scratch = Fuzz::scratchDirectory() + QStringLiteral("/extraction");
        const QString dir = Fuzz::deepDirectory(QStringLiteral("extraction"));
        l.unpack = dir + QStringLiteral("/unpack");
        l.archive = dir + QStringLiteral("/archive.zip");
        Fuzz::require(QDir().mkpath(l.unpack + QStringLiteral("-evil")), "scratch directories");
        QFile sentinel(dir + QStringLiteral("/sentinel.txt"));
        Fuzz::require(sentinel.open(QIODevice::WriteOnly) && sentinel.write("stays\n") == 6,
                      "a sentinel file");
        return l;
    }();
    return made;
}

QStringList around(const Layout &l)
{
    QStringList listing = treeListing(l.scratch);
    const QString unpack = QDir(l.scratch).relativeFilePath(l.unpack);
    listing.removeIf([&](const QString &line) {
        return line.startsWith(unpack + QLatin1Char(' ')) || line.startsWith(unpack + '/')
               || line.startsWith(QDir(l.scratch).relativeFilePath(l.archive) + ' ');
    });
    return listing;
}

// What the archive's directory declares, read with the same library: the
// sum of the entries' sizes, and whether any name climbs further than this
// target lets an input climb (such inputs are not tried: a fault would then
// write outside the scratch directory).
bool declared(const QString &path, quint64 *total)
{
    *total = 0;
    unzFile archive = unzOpen64(QFile::encodeName(path).constData());
    if (!archive)
        return true;
    bool tame = true;
    int status = unzGoToFirstFile(archive);
    while (status == UNZ_OK) {
        unz_file_info64 info;
        char name[65536];
        if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0)
            != UNZ_OK)
            break;
        *total += info.uncompressed_size;
        const QString entry = QString::fromLatin1(name, qstrnlen(name, sizeof name));
        QString parts = entry;
        parts.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (parts.split(QLatin1Char('/')).count(QStringLiteral("..")) > Fuzz::MaxClimb)
            tame = false;
        status = unzGoToNextFile(archive);
    }
    unzClose(archive);
    return tame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Layout &l = layout();
    static const QStringList untouched = around(l);
    {
        QFile archive(l.archive);
        Fuzz::require(archive.open(QIODevice::WriteOnly | QIODevice::Truncate)
                          && archive.write(reinterpret_cast<const char *>(data), qint64(size))
                                 == qint64(size),
                      "the archive is written");
    }
    quint64 total = 0;
    if (!declared(l.archive, &total))
        return 0;

    QDir().mkpath(l.unpack);
    ArchiveExtractor extractor(l.archive, l.unpack + QLatin1Char('/'));
    CompactStringList installed;
    const bool extracted = extractor.extract(QStringLiteral("core.xml"), &installed);
    Fuzz::require(extracted || !extractor.message().isEmpty(), "a failure says why");

    Fuzz::require(around(l) == untouched, "nothing written outside the unpack directory");
    quint64 written = 0;
    QDirIterator it(l.unpack, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        Fuzz::require(!it.fileInfo().isSymLink(), "no link is unpacked");
        if (it.fileInfo().isFile())
            written += quint64(it.fileInfo().size());
    }
    Fuzz::require(written <= total, "no more written than the archive declares");
    // What was unpacked can be removed again, whatever its names.
    removeTree(l.unpack);
    Fuzz::require(!QFileInfo::exists(l.unpack), "the unpack directory is removed");
    return 0;
}
