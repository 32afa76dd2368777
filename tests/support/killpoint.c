/*
 * Loaded with LD_PRELOAD into a program under test, this kills the program
 * with SIGKILL right before its Nth change to the file system below a given
 * folder: as if "kill -9" had hit it at exactly that point. A run without a
 * kill point can log every change instead, so that a test can pick points.
 *
 *   VEMO_KILL_PROGRAM  only a process of this name counts (not its children)
 *   VEMO_KILL_PREFIX   only paths that start with this count
 *   VEMO_KILL_AT       N: killed before the Nth change (unset or 0: never)
 *   VEMO_KILL_LOG      appends "N kind path" for every change
 *
 * Changes are creations, writes, renames, links, removals and mode changes
 * made through the C library by path.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static int configured;
static int active;
static const char *prefix;
static size_t prefixLength;
static long killAt;
static long counted;
static int logFd = -1;

static void configure(void)
{
    if (configured)
        return;
    configured = 1;
    const char *program = getenv("VEMO_KILL_PROGRAM");
    prefix = getenv("VEMO_KILL_PREFIX");
    if (!program || !prefix || strcmp(program, program_invocation_short_name) != 0)
        return;
    active = 1;
    prefixLength = strlen(prefix);
    const char *at = getenv("VEMO_KILL_AT");
    killAt = at ? atol(at) : 0;
    const char *log = getenv("VEMO_KILL_LOG");
    if (log)
        logFd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                             0600);
}

static int below(const char *path)
{
    return path && strncmp(path, prefix, prefixLength) == 0;
}

static void change(const char *kind, const char *path, const char *other)
{
    configure();
    if (!active || !(below(path) || below(other)))
        return;
    ++counted;
    if (logFd >= 0)
        dprintf(logFd, "%ld %s %s\n", counted, kind, below(path) ? path : other);
    if (killAt > 0 && counted >= killAt)
        raise(SIGKILL);
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static int writes(int flags)
{
    return (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR)) != 0;
}

#define OPEN_WRAPPER(name)                                                                        \
    int name(const char *path, int flags, ...)                                                    \
    {                                                                                             \
        mode_t mode = 0;                                                                          \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                      \
            va_list args;                                                                         \
            va_start(args, flags);                                                                \
            mode = va_arg(args, mode_t);                                                          \
            va_end(args);                                                                         \
        }                                                                                         \
        if (writes(flags))                                                                        \
            change("open", path, NULL);                                                           \
        return REAL(name)(path, flags, mode);                                                     \
    }
OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)

#define OPENAT_WRAPPER(name)                                                                      \
    int name(int dir, const char *path, int flags, ...)                                           \
    {                                                                                             \
        mode_t mode = 0;                                                                          \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                      \
            va_list args;                                                                         \
            va_start(args, flags);                                                                \
            mode = va_arg(args, mode_t);                                                          \
            va_end(args);                                                                         \
        }                                                                                         \
        if (writes(flags))                                                                        \
            change("open", path, NULL);                                                           \
        return REAL(name)(dir, path, flags, mode);                                                \
    }
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

int rename(const char *from, const char *to)
{
    change("rename", from, to);
    return REAL(rename)(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    change("rename", from, to);
    return REAL(renameat)(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    change("rename", from, to);
    return REAL(renameat2)(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    change("link", to, NULL);
    return REAL(link)(from, to);
}

int symlink(const char *target, const char *path)
{
    change("symlink", path, NULL);
    return REAL(symlink)(target, path);
}

int unlink(const char *path)
{
    change("unlink", path, NULL);
    return REAL(unlink)(path);
}

int unlinkat(int dir, const char *path, int flags)
{
    change("unlink", path, NULL);
    return REAL(unlinkat)(dir, path, flags);
}

int rmdir(const char *path)
{
    change("rmdir", path, NULL);
    return REAL(rmdir)(path);
}

int mkdir(const char *path, mode_t mode)
{
    change("mkdir", path, NULL);
    return REAL(mkdir)(path, mode);
}

int chmod(const char *path, mode_t mode)
{
    change("chmod", path, NULL);
    return REAL(chmod)(path, mode);
}
