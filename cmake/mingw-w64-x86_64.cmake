# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++ with posix
# threads, so that std::thread and Qt's threads share one model).
# VEMO_MINGW_PREFIXES lists the install prefixes of the libraries built for
# the target (scripts/build-windows passes them); the MinGW-w64 runtime and
# Debian's zlib for MinGW live under /usr/x86_64-w64-mingw32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(vemo_mingw_triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${vemo_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${vemo_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${vemo_mingw_triple}-windres)

# Libraries, headers and CMake packages come from the target's directories
# only; programs (moc, uic, rcc, lrelease) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${vemo_mingw_triple} ${VEMO_MINGW_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEMO_MINGW_PREFIXES)

# pkg-config sees the target's .pc files and never the build machine's.
set(vemo_pkgconfig_dirs /usr/${vemo_mingw_triple}/lib/pkgconfig)
foreach(prefix IN LISTS VEMO_MINGW_PREFIXES)
    list(APPEND vemo_pkgconfig_dirs ${prefix}/lib/pkgconfig)
endforeach()
string(REPLACE ";" ":" vemo_pkgconfig_dirs "${vemo_pkgconfig_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${vemo_pkgconfig_dirs}")
unset(ENV{PKG_CONFIG_PATH})
