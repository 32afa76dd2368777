#include "updatekeys.h"

#include "buildconfig.h"

namespace UpdateKeys {

QByteArray list()
{
#ifdef VEMO_WITHOUT_UPDATE_KEYS
    return QByteArray();
#else
    return QByteArrayLiteral(VEMO_UPDATE_KEYS);
#endif
}

} // namespace UpdateKeys
