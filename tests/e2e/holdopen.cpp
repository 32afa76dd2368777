// Keeps a file open the way a program that locks its files does: without
// sharing it for reading, writing or deletion, so that nobody else can open,
// replace, rename or delete it while it is held.
//   vemo-holdopen FILE READY STOP
// Writes READY once the file is open and holds it until STOP exists (or the
// process is killed). Exit code 0 after holding it, 1 when it could not be
// opened.

#include <windows.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: vemo-holdopen FILE READY STOP\n");
        return 2;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "vemo-holdopen: cannot open %s (error %lu)\n", argv[1],
                     GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    CloseHandle(held);
    return 0;
}
