#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// Makes the new version of an installed file from one zstd frame that was
// compressed with the old version as its prefix ("zstd --patch-from=OLD
// NEW"), checking both versions against the sizes and SHA-256 digests a
// delta package's manifest gives for them.
//
// Memory stays flat whatever the file's size: the installed file and the
// result are mapped, not read into the heap; the frame is decoded one block
// at a time straight into the mapped result, and the pages walked over are
// handed back to the system every few MiB. The result is hashed as it is
// made and kept only when it verifies; the installed file is hashed only
// when the patch fails, to say whether it is the one the patch applies to.
// A frame whose window (the
// distance it may reach back) exceeds windowBound() is refused from its
// header, before anything is allocated for it.
namespace FilePatch {

// What the manifest promises: the installed file the patch applies to, and
// the file it makes. Digests in lowercase hex.
struct Versions
{
    qint64 fromSize = 0;
    QByteArray fromSha256;
    qint64 size = 0;
    QByteArray sha256;
    // The file as the reasons name what the patch makes: its place in the
    // installation, not the temporary output.
    QString name;
};

// The largest window a frame may declare for these sizes: four times the
// larger one plus 1 MiB, and never more than 2 GiB.
quint64 windowBound(qint64 fromSize, qint64 size);

// Whether the zstd library loaded is the release the updater was built
// with: apply() refuses every patch otherwise (the block decoder it uses is
// not part of zstd's stable interface), so that the full package is used.
bool libraryMatches();

// Applies frame (a file holding the zstd frame) to installed, which is
// opened without following a link and must be a regular file, into the new
// file output (which must not exist; it is removed again on failure).
// Nothing else is written. On failure *reason says in one line what did
// not fit.
// When *cancelled turns true (from another thread) it stops within a few
// MiB of output, and the installed file's hash within one, and fails.
bool apply(const QString &installed, const QString &frame, const QString &output,
           const Versions &versions, QString *reason,
           const std::atomic_bool *cancelled = nullptr);

} // namespace FilePatch
