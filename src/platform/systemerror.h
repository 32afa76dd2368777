#pragma once

#include <QString>

namespace Platform {

// The system's own text for an error number (an errno value), translated as
// Qt translates it. Windows: FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM) for the
// GetLastError() codes that the Win32 calls leave.
QString systemError(int error);

} // namespace Platform
