#pragma once

#include <windows.h>

// Newer than the MinGW-w64 headers: a name was a link where none may be.
#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681L
#endif

// How the Win32 half of the layer reports a failure: callers read errno, as
// they do on POSIX, and systemError() shows the system's own words for the
// Win32 code behind it.
namespace Platform {

// The errno value that callers expect for a Win32 error code.
int errnoFromWin32(DWORD code);

// Keeps code (thread-local) for systemError() and sets errno to its
// mapping; returns false for the caller to pass on.
bool failWithWin32(DWORD code);
// The same with GetLastError().
bool failWithLastError();

} // namespace Platform
