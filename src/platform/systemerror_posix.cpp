#include "systemerror.h"

namespace Platform {

QString systemError(int error)
{
    return qt_error_string(error);
}

bool isFileInUse(int)
{
    return false;
}

} // namespace Platform
