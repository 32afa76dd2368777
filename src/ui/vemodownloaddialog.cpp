// PLACEHOLDER: replaced by the window implementation.
#include "vemodownloaddialog.h"
VemoDownloadDialog::VemoDownloadDialog(VemoUpdaterEngine *engine) : engine(engine) {}
void VemoDownloadDialog::error(const QString &) {}
void VemoDownloadDialog::finished() {}
