#include "workdircleanup.h"

#include "engine/workdirectory.h"
#include "removetree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

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

} // namespace

namespace WorkDirCleanup {

QStringList runningProgramFiles()
{
    QStringList files{QCoreApplication::applicationFilePath()};
    const QString directory = QCoreApplication::applicationDirPath();
    for (const QString &library : WorkDirectory::bundledLibraries())
        files << directory + QLatin1Char('/') + library;
    return files;
}

void clear(const QString &workDir, const QStringList &keptFiles)
{
    const QString directory = QFileInfo(QDir::cleanPath(workDir)).canonicalFilePath();
    if (directory.isEmpty())
        return; // nothing there

    QSet<QString> keptNames;
    for (const QString &file : keptFiles) {
        const QString comparable = comparablePath(file);
        if (QFileInfo(comparable).absolutePath() == directory)
            keptNames.insert(QFileInfo(comparable).fileName());
    }

    if (keptNames.isEmpty()) {
        removeTree(workDir);
        return;
    }

    const QDir dir(directory);
    const QStringList entries = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &name : entries) {
        if (keptNames.contains(name))
            continue;
        const QString path = dir.absoluteFilePath(name);
        const QFileInfo info(path);
        if (info.isDir() && !info.isSymLink())
            removeTree(path);
        else
            QFile::remove(path);
    }
}

} // namespace WorkDirCleanup
