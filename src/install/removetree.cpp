#include "removetree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void removeTree(const QString &path)
{
    // QFileInfo answers isSymLink() from lstat(); everything else it reports
    // about a link describes the link's target. A link is only ever unlinked:
    // descending into a link to a directory would delete data that lives
    // outside the tree.
    const QFileInfo self(path);
    if (self.isSymLink()) {
        QFile::remove(path);
        return;
    }

    const QDir dir(path);
    // The directory listing includes links to directories.
    const QStringList subdirectories =
        dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &name : subdirectories)
        removeTree(path + QLatin1Char('/') + name);

    // System brings in what the plain file listing leaves out, dangling links
    // among them. The paths are joined by hand: QDir would take a name that
    // begins with ':' for a resource path and hand it back unchanged.
    const QStringList files =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString &name : files)
        QFile::remove(path + QLatin1Char('/') + name);

    QDir().rmdir(path);
}
