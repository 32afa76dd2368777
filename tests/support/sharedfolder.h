#pragma once

#include <QString>

namespace SharedFolder {

// Lets other users change the folder dir: everyone, or with groupOnly the
// user's group (POSIX) or the Users group (Windows). POSIX: the write bit
// of others or of the group; Windows: an allowing entry in its ACL.
bool letOthersChange(const QString &dir, bool groupOnly);

} // namespace SharedFolder
