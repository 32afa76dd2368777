// PLACEHOLDER: replaced by the install driver.
#include "engine/vemoupdaterengine.h"
void VemoUpdaterEngine::installUpdates() {}
