#include "systemerror.h"

namespace Platform {

QString systemError(int error)
{
    return qt_error_string(error);
}

} // namespace Platform
