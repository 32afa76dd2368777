// PLACEHOLDER: replaced by the window implementation.
#include "vemochangelogdialog.h"
VemoChangelogDialog::VemoChangelogDialog(VemoUpdaterEngine *engine) : engine(engine) {}
void VemoChangelogDialog::toggleChangelog() {}
void VemoChangelogDialog::downloadNow() {}
