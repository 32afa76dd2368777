#pragma once

#include <QString>

namespace Platform {

// The system's own text for an error number (an errno value), translated as
// Qt translates it. Windows: FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM) for the
// GetLastError() codes that the Win32 calls leave.
QString systemError(int error);

// Whether error means that another program holds the file open without
// letting others replace or remove it.
// POSIX: never (an open file keeps nobody from renaming or removing it).
// Windows: EBUSY, which a sharing or lock violation becomes.
bool isFileInUse(int error);

} // namespace Platform
