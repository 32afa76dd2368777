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
 * made through the C library by path, or by a name relative to an open
 * directory (the *at() calls), which counts with the directory's path.
 *
 * It can also turn a folder read-only at a chosen moment, in any process,
 * as if its file system had been remounted read-only or had failed:
 *
 *   VEMO_READONLY_PREFIX  the folder: paths that start with this
 *   VEMO_READONLY_FROM    the moment: the first write() to a file opened
 *                         below the folder whose data starts with these bytes
 *
 * That write fails with EROFS, and so does every later change below the
 * folder: writes, fsync() and fdatasync() of the files opened there, and
 * every change by path.
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

static const char *readOnlyPrefix;
static size_t readOnlyPrefixLength;
static const char *readOnlyFrom;
static int readOnly;
/* The files opened for writing below the read-only prefix, by descriptor. */
static char openedBelowReadOnly[4096];

static void configure(void)
{
    if (configured)
        return;
    configured = 1;
    readOnlyPrefix = getenv("VEMO_READONLY_PREFIX");
    readOnlyFrom = getenv("VEMO_READONLY_FROM");
    if (!readOnlyPrefix || !readOnlyFrom)
        readOnlyPrefix = NULL;
    else
        readOnlyPrefixLength = strlen(readOnlyPrefix);
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

/* Whether a change of path (or of other) must fail because the folder has
 * turned read-only; errno is set then. */
static int refused(const char *path, const char *other)
{
    configure();
    if (!readOnly)
        return 0;
    if ((path && strncmp(path, readOnlyPrefix, readOnlyPrefixLength) == 0)
        || (other && strncmp(other, readOnlyPrefix, readOnlyPrefixLength) == 0)) {
        errno = EROFS;
        return 1;
    }
    return 0;
}

static void opened(int fd, const char *path, int flags)
{
    if (fd < 0 || fd >= (int)sizeof openedBelowReadOnly || !readOnlyPrefix)
        return;
    openedBelowReadOnly[fd] = (flags & (O_WRONLY | O_RDWR)) && path
                         && strncmp(path, readOnlyPrefix, readOnlyPrefixLength) == 0;
}

static int refusedDescriptor(int fd)
{
    configure();
    if (!readOnly || fd < 0 || fd >= (int)sizeof openedBelowReadOnly || !openedBelowReadOnly[fd])
        return 0;
    errno = EROFS;
    return 1;
}

ssize_t write(int fd, const void *data, size_t size)
{
    static __typeof__(&write) real;
    if (!real)
        real = REAL(write);
    configure();
    if (readOnlyPrefix && !readOnly && fd >= 0 && fd < (int)sizeof openedBelowReadOnly
        && openedBelowReadOnly[fd] && size >= strlen(readOnlyFrom)
        && memcmp(data, readOnlyFrom, strlen(readOnlyFrom)) == 0)
        readOnly = 1;
    if (refusedDescriptor(fd))
        return -1;
    return real(fd, data, size);
}

int fsync(int fd)
{
    return refusedDescriptor(fd) ? -1 : REAL(fsync)(fd);
}

int fdatasync(int fd)
{
    return refusedDescriptor(fd) ? -1 : REAL(fdatasync)(fd);
}

int close(int fd)
{
    static __typeof__(&close) real;
    if (!real)
        real = REAL(close);
    if (fd >= 0 && fd < (int)sizeof openedBelowReadOnly)
        openedBelowReadOnly[fd] = 0;
    return real(fd);
}

/* The full path of a name relative to the open directory dir. */
struct atPath
{
    char text[8192];
};

static const char *fullPath(int dir, const char *path, struct atPath *buffer)
{
    if (!path || path[0] == '/' || dir == AT_FDCWD)
        return path;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
    const ssize_t length = readlink(link, buffer->text, sizeof buffer->text - 1);
    if (length <= 0 || (size_t)length + 1 + strlen(path) >= sizeof buffer->text)
        return path;
    buffer->text[length] = '/';
    strcpy(buffer->text + length + 1, path);
    return buffer->text;
}

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
        if (writes(flags)) {                                                                      \
            change("open", path, NULL);                                                           \
            if (refused(path, NULL))                                                              \
                return -1;                                                                        \
        }                                                                                         \
        const int fd = REAL(name)(path, flags, mode);                                             \
        opened(fd, path, flags);                                                                  \
        return fd;                                                                                \
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
        struct atPath full;                                                                       \
        const char *named = path;                                                                 \
        if (writes(flags)) {                                                                      \
            named = fullPath(dir, path, &full);                                                   \
            change("open", named, NULL);                                                          \
            if (refused(named, NULL))                                                             \
                return -1;                                                                        \
        }                                                                                         \
        const int fd = REAL(name)(dir, path, flags, mode);                                        \
        opened(fd, named, flags);                                                                 \
        return fd;                                                                                \
    }
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

int rename(const char *from, const char *to)
{
    change("rename", from, to);
    if (refused(from, to))
        return -1;
    return REAL(rename)(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    struct atPath fullFrom, fullTo;
    const char *namedFrom = fullPath(fromDir, from, &fullFrom);
    const char *namedTo = fullPath(toDir, to, &fullTo);
    change("rename", namedFrom, namedTo);
    if (refused(namedFrom, namedTo))
        return -1;
    return REAL(renameat)(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    struct atPath fullFrom, fullTo;
    const char *namedFrom = fullPath(fromDir, from, &fullFrom);
    const char *namedTo = fullPath(toDir, to, &fullTo);
    change("rename", namedFrom, namedTo);
    if (refused(namedFrom, namedTo))
        return -1;
    return REAL(renameat2)(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    change("link", to, NULL);
    if (refused(to, NULL))
        return -1;
    return REAL(link)(from, to);
}

int symlink(const char *target, const char *path)
{
    change("symlink", path, NULL);
    if (refused(path, NULL))
        return -1;
    return REAL(symlink)(target, path);
}

int unlink(const char *path)
{
    change("unlink", path, NULL);
    if (refused(path, NULL))
        return -1;
    return REAL(unlink)(path);
}

int unlinkat(int dir, const char *path, int flags)
{
    struct atPath full;
    const char *named = fullPath(dir, path, &full);
    change("unlink", named, NULL);
    if (refused(named, NULL))
        return -1;
    return REAL(unlinkat)(dir, path, flags);
}

int rmdir(const char *path)
{
    change("rmdir", path, NULL);
    if (refused(path, NULL))
        return -1;
    return REAL(rmdir)(path);
}

int mkdir(const char *path, mode_t mode)
{
    change("mkdir", path, NULL);
    if (refused(path, NULL))
        return -1;
    return REAL(mkdir)(path, mode);
}

int chmod(const char *path, mode_t mode)
{
    change("chmod", path, NULL);
    if (refused(path, NULL))
        return -1;
    return REAL(chmod)(path, mode);
}
