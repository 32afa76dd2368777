#pragma once

#include <QString>

// Removes the directory 'path' with everything below it. Symbolic links are
// removed themselves and never followed. Whatever cannot be removed stays,
// together with the directories that still contain it.
void removeTree(const QString &path);
