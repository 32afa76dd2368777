#pragma once

#include <QString>

namespace SharedFolder {

// Lets other users change the folder dir: everyone, or with groupOnly the
// user's group (POSIX) or the Users group (Windows). POSIX: the write bit
// of others or of the group; Windows: an allowing entry in its ACL.
bool letOthersChange(const QString &dir, bool groupOnly);

// Whether the folder's permissions, read back, let those others change it:
// false where the system has dropped what letOthersChange() set (Wine keeps
// a file's ACL only as far as POSIX mode bits can hold it, which have no
// place for the Users group).
bool othersMayChange(const QString &dir, bool groupOnly);

} // namespace SharedFolder
