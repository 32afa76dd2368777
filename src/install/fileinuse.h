#pragma once

#include <QString>

// What the user reads when a file of the installation cannot be replaced
// because a program holds it open (Windows only: see Platform::isFileInUse).
namespace FileInUse {

// Names the file and, where the system can tell, the programs holding it.
QString message(const QString &file);

} // namespace FileInUse
