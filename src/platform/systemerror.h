#pragma once

#include <QString>

namespace Platform {

// The system's own text for an error number, translated as Qt translates it.
// Windows: the same (errno values come from the C library there too).
QString systemError(int error);

} // namespace Platform
