#pragma once

#include "compactstringlist.h"

#include <QString>

#include <atomic>
#include <functional>

// A package unpacked into its unpack directory ahead of the installation,
// ready for PackageInstaller::usePrepared(): the installer then applies its
// manifest without unpacking anything.
struct PreparedPackage
{
    QString unpackDir;
    // The manifest's file below unpackDir.
    QString manifestPath;
    // Entries of the archive, directories included (0: an empty archive).
    int entryCount = 0;
    // " - " + name of every file entry but the manifest, in archive order.
    CompactStringList installedList;
    // How many "patch" rows were applied.
    int patchedFiles = 0;
};

// A delta package: an ordinary package whose manifest may also hold rows
//   <file name="N" path="P" action="patch" from-size="BYTES" from-sha256="HEX"
//         size="BYTES" sha256="HEX"/>
// whose entry P/N (or N for an empty path) is one zstd frame compressed with
// the installed file P/N as its prefix. prepare() unpacks the package as the
// installer does and turns every such entry into the new file, checking the
// installed file and the result against the row's sizes and SHA-256
// digests (lowercase hex). It only reads below the install root: nothing
// there changes until the installer applies the prepared package, which
// treats each patch row like an "add" row of the file it made.
namespace DeltaPackage {

// The manifest's entry for an archive whose link has urlPath: the path
// without its leading slashes and last four characters, plus ".xml"
// ("/dir/pkg.zip" gives "dir/pkg.xml"), as for every package.
QString manifestEntry(const QString &urlPath);

// Unpacks archive (whose link has urlPath) into unpackDir, emptied first,
// and patches every patch row against the installed files below root,
// opened without following links: a row whose installed name is itself a
// link reads the regular file it leads to inside root, and one beyond a
// folder that is a link is refused. False at the first row that does not
// fit (an installed file changed or missing, a frame refused, a result
// that does not verify, a row that names a place outside the root or
// lacks its sizes or digests, a link that leads out of the root), with
// *reason saying so in one line for the log; the unpack directory may
// then hold anything.
//
// It may run on a thread of its own. After each patched file it calls
// progress (if set) with the bytes made so far of all patch rows' sizes;
// when *cancelled turns true it stops within a few MiB and fails.
using Progress = std::function<void(qint64 done, qint64 total)>;
bool prepare(const QString &archive, const QString &urlPath, const QString &unpackDir,
             const QString &root, PreparedPackage *prepared, QString *reason,
             const std::atomic_bool *cancelled = nullptr, const Progress &progress = {});

} // namespace DeltaPackage
