#include "fileinuse.h"

#include "platform/fileio.h"
#include "platform/processes.h"

#include <QCoreApplication>
#include <QDir>

namespace FileInUse {

QString message(const QString &file)
{
    const QStringList programs = Platform::programsUsingFile(Platform::encodeName(file));
    if (programs.isEmpty()) {
        return QCoreApplication::translate("FileInUse",
                                           "The file %1 is in use by another program and cannot "
                                           "be replaced. Close that program and try the update "
                                           "again.")
            .arg(QDir::toNativeSeparators(file));
    }
    return QCoreApplication::translate("FileInUse",
                                       "The file %1 is in use by %2 and cannot be replaced. Close "
                                       "%2 and try the update again.")
        .arg(QDir::toNativeSeparators(file), programs.join(QStringLiteral(", ")));
}

} // namespace FileInUse
