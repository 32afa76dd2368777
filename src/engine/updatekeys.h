#pragma once

#include <QByteArray>

// The release keys this build verifies update answers with: the
// comma-separated base64 Ed25519 public keys of VEMO_UPDATE_KEYS. Empty in a
// build without keys, which does not verify answers.
//
// The function lives in a library of its own (updaterkeys), linked beside
// updatercore into each program, so that the same code can also be linked
// as an updater without keys (updaterkeys-none).
namespace UpdateKeys {
QByteArray list();
} // namespace UpdateKeys
