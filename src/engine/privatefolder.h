#pragma once

#include <QString>

// A folder that only the user can change, for what others must not plant
// or read: the work directory and the state directory.
namespace PrivateFolder {

enum class Problem {
    None,
    CannotCreate, // *error says why
    CannotUse,    // it could not be looked at; *error says why
    NotAFolder,   // something else, a link included, stands there
    OtherOwner,
    OpenToOthers, // the group or others may change it (Windows: its ACL lets them)
};

// Makes dir (mode 0700, or on Windows an ACL for the user and SYSTEM only,
// with the folders above it) when nothing stands there, then checks that it
// is a folder of the user's own that nobody else can change. *error gets
// the errno of a failed system call.
Problem prepare(const QString &dir, int *error);

} // namespace PrivateFolder
