#include "workdirectory.h"

#include "buildconfig.h"
#include "platform/fileio.h"
#include "privatefolder.h"
#include "removetree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

const QLatin1String ArchivesFolder("archives");
const QLatin1String UnpackFolder("unpack");

bool refuse(QString *problem, const QString &text)
{
    if (problem)
        *problem = text;
    return false;
}

// The form of a path that compares equal for every way of writing it:
// links in the directory part resolved (TMPDIR may lead through one), the
// last component taken as it stands so that a link is never confused with
// its target.
QString comparablePath(const QString &path)
{
    const QFileInfo info(QDir::cleanPath(path));
    const QString directory = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (directory.isEmpty())
        return info.absoluteFilePath();
    return directory + QLatin1Char('/') + info.fileName();
}

// Removes everything in folder (relative to the work directory: prefix) but
// the kept paths, walking only into real folders that hold one of them.
void clearFolder(const QString &directory, const QString &prefix, const QSet<QString> &kept)
{
    const QDir listing(directory + QLatin1Char('/') + prefix);
    const QStringList entries = listing.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &name : entries) {
        const QString relative = prefix + name;
        if (kept.contains(relative))
            continue;
        // Not absoluteFilePath(): a name that begins with ':' would come back
        // as a resource path.
        const QString path = directory + QLatin1Char('/') + relative;
        const QFileInfo info(path);
        const bool folder = info.isDir() && !info.isSymLink();
        const QString below = relative + QLatin1Char('/');
        const bool holdsKept = folder && std::any_of(kept.cbegin(), kept.cend(),
                                                     [&](const QString &keptPath) {
                                                         return keptPath.startsWith(below);
                                                     });
        if (holdsKept)
            clearFolder(directory, below, kept);
        else if (folder)
            removeTree(path);
        else
            QFile::remove(path);
    }
}

} // namespace

namespace WorkDirectory {

QStringList bundledLibraries()
{
    QStringList libraries =
        QString::fromUtf8(VEMO_BUNDLED_LIBRARIES).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString &library : libraries)
        library = library.trimmed();
    return libraries;
}

QString archivePath(const QString &dir, const QString &urlPath)
{
    qsizetype start = 0;
    while (start < urlPath.size() && urlPath.at(start) == QLatin1Char('/'))
        ++start;
    return QDir::cleanPath(dir) + QLatin1Char('/') + ArchivesFolder + QLatin1Char('/')
        + urlPath.mid(start);
}

QString unpackPath(const QString &dir, int index)
{
    return QDir::cleanPath(dir) + QLatin1Char('/') + UnpackFolder + QLatin1Char('/')
        + QString::number(index) + QLatin1Char('/');
}

bool preparePrivate(const QString &dir, QString *problem)
{
    const QString clean = QDir::cleanPath(dir);
    // As the user would type them into the system's own tools.
    const QString shown = QDir::toNativeSeparators(clean);
    const QString variable = QString::fromLatin1(Platform::tempDirectoryVariable());
    int error = 0;
    switch (PrivateFolder::prepare(clean, &error)) {
    case PrivateFolder::Problem::None:
        return true;
    case PrivateFolder::Problem::CannotCreate:
        return refuse(problem, QCoreApplication::translate(
                                   "WorkDirectory", "Cannot create the work directory %1: %2")
                                   .arg(shown, qt_error_string(error)));
    case PrivateFolder::Problem::CannotUse:
        return refuse(problem, QCoreApplication::translate("WorkDirectory",
                                                           "Cannot use the work directory %1: %2")
                                   .arg(shown, qt_error_string(error)));
    case PrivateFolder::Problem::NotAFolder:
        return refuse(
            problem, QCoreApplication::translate(
                         "WorkDirectory",
                         "The work directory %1 is not a directory. Remove it and start the update "
                         "again.")
                         .arg(shown));
    case PrivateFolder::Problem::OtherOwner:
        return refuse(problem,
                      QCoreApplication::translate(
                          "WorkDirectory",
                          "The work directory %1 belongs to another user. Remove it, or set %2 "
                          "to a directory of your own, and start the update again.")
                          .arg(shown, variable));
    case PrivateFolder::Problem::OpenToOthers:
        return refuse(problem,
                      QCoreApplication::translate(
                          "WorkDirectory",
                          "The work directory %1 can be changed by other users. Remove it, or set "
                          "%2 to a directory of your own, and start the update again.")
                          .arg(shown, variable));
    }
    return false;
}

QStringList runningProgramFiles()
{
    QStringList files{QCoreApplication::applicationFilePath()};
    const QString directory = QCoreApplication::applicationDirPath();
    for (const QString &library : bundledLibraries())
        files << directory + QLatin1Char('/') + library;
    return files;
}

void clear(const QString &dir, const QStringList &keptFiles)
{
    const QString directory = QFileInfo(QDir::cleanPath(dir)).canonicalFilePath();
    if (directory.isEmpty())
        return; // nothing there

    // Kept files as paths relative to the work directory; a plug-in lies in
    // a subfolder of it ("platforms/qwindows.dll").
    const QString inside = directory + QLatin1Char('/');
    QSet<QString> kept;
    for (const QString &file : keptFiles) {
        const QString comparable = comparablePath(file);
        if (comparable.startsWith(inside))
            kept.insert(comparable.mid(inside.size()));
    }

    if (kept.isEmpty()) {
        removeTree(dir);
        return;
    }
    clearFolder(directory, QString(), kept);
}

} // namespace WorkDirectory
