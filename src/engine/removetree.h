#pragma once

#include <QString>

// Removes the directory 'path' with everything below it. Symbolic links are
// removed themselves and never followed, also when 'path' is one. Whatever
// cannot be removed stays, together with the directories that still contain
// it. A path that does not exist is left alone.
void removeTree(const QString &path);
