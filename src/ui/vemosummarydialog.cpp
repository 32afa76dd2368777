// PLACEHOLDER: replaced by the window implementation.
#include "vemosummarydialog.h"
VemoSummaryDialog::VemoSummaryDialog(VemoUpdaterEngine *engine) : engine(engine) {}
void VemoSummaryDialog::restartVemo() {}
