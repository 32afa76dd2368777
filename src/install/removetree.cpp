// PLACEHOLDER: replaced by the tree removal.
#include "removetree.h"
void removeTree(const QString &) {}
