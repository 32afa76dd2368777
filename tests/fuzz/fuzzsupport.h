#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// What the fuzz targets share. A target defines LLVMFuzzerTestOneInput; with
// libFuzzer that is the whole program, in the ordinary build replaymain.cpp
// feeds it the files of a corpus.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace Fuzz {

// An expectation of the code under test. When it fails the message goes to
// standard error and the process aborts, which libFuzzer records as a crash
// with the input that caused it.
void require(bool condition, const char *what);

// The application object, for targets that need an event loop. Created on
// the first call and kept for the life of the process.
void ensureApplication();

// A directory of this process's own, created on the first call; removed when
// the process ends normally.
QString scratchDirectory();

// The place where a target puts what it works on: this many levels below a
// directory NAME of the scratch directory, so that a path that climbs out of
// it stays inside the scratch directory (where it is seen) unless it climbs
// further than MaxClimb levels, which no input tried may do.
constexpr int Depth = 16;
constexpr int MaxClimb = Depth - 2;
QString deepDirectory(const QString &name);

// A file of the source tree (the test-only keys), read whole.
QByteArray sourceFile(const char *relativePath);

} // namespace Fuzz
