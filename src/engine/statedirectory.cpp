#include "statedirectory.h"

#include "platform/fileio.h"

#include "privatefolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>


namespace StateDirectory {

bool prepare(const QString &stateDir, QString *problem)
{
    // The journal found here tells recovery what to delete and what to put
    // back, so the folder must be the user's own, as the work directory is.
    const QString dir = QDir::cleanPath(stateDir);
    int error = 0;
    const PrivateFolder::Problem found = PrivateFolder::prepare(dir, &error);
    if (found == PrivateFolder::Problem::None)
        return true;
    if (!problem)
        return false;
    if (found == PrivateFolder::Problem::CannotCreate || found == PrivateFolder::Problem::CannotUse) {
        *problem = QCoreApplication::translate(
                       "StateDirectory", "Cannot create the folder %1 for the update's records: %2")
                       .arg(QDir::toNativeSeparators(dir), qt_error_string(error));
    } else {
        *problem = QCoreApplication::translate(
                       "StateDirectory",
                       "The folder %1 for the update's records is not a folder of your own "
                       "that only you can change. Remove it and start the update again.")
                       .arg(QDir::toNativeSeparators(dir));
    }
    return false;
}

bool syncDirectory(const QString &dir)
{
    const Platform::FileHandle directory(Platform::openDirectory(Platform::encodeName(dir)));
    return directory.isOpen() && Platform::sync(directory.get());
}

} // namespace StateDirectory
