// PLACEHOLDER: replaced by the package download.
#include "vemoupdaterengine.h"
void VemoUpdaterEngine::beginDownload() {}
void VemoUpdaterEngine::abortDownload() {}
void VemoUpdaterEngine::requestFinished(int, bool) {}
void VemoUpdaterEngine::dataReadProgress(int, int) {}
void VemoUpdaterEngine::responseHeaderReceived(const HttpResponseHeader &) {}
void VemoUpdaterEngine::startArchive() {}
void VemoUpdaterEngine::stopWithError(const QString &) {}
int downloadPercentage(int, int) { return 0; }
