// PLACEHOLDER: replaced by the window implementation.
#include "vemoinstalldialog.h"
VemoInstallDialog::VemoInstallDialog(VemoUpdaterEngine *engine) : engine(engine) {}
void VemoInstallDialog::finished() {}
