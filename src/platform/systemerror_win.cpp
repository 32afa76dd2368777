#include "systemerror.h"
#include "win32error.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

namespace Platform {

namespace {

// The Win32 code of this thread's last failure in the layer.
thread_local DWORD lastWin32Code = 0;

QString win32Text(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER
                                            | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer),
                                        0, nullptr);
    QString text;
    if (length > 0 && buffer)
        text = QString::fromWCharArray(buffer, int(length)).trimmed();
    LocalFree(buffer);
    return text;
}

// The C library's text, as Qt gives it on POSIX (its four own translations
// first). The C runtime of Windows knows no text for the POSIX codes that
// MinGW adds (ELOOP and its neighbours); those few are named here.
QString standardText(int error)
{
    switch (error) {
    case EACCES:
        return QCoreApplication::translate("QIODevice", "Permission denied");
    case EMFILE:
        return QCoreApplication::translate("QIODevice", "Too many open files");
    case ENOENT:
        return QCoreApplication::translate("QIODevice", "No such file or directory");
    case ENOSPC:
        return QCoreApplication::translate("QIODevice", "No space left on device");
    case ELOOP:
        return QStringLiteral("Too many levels of symbolic links");
    case EOPNOTSUPP:
        return QStringLiteral("Operation not supported");
    default:
        return QString::fromLocal8Bit(std::strerror(error)).trimmed();
    }
}

} // namespace

int errnoFromWin32(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DELETE_PENDING:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_CANNOT_MAKE:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_STOPPED_ON_SYMLINK:
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return EOPNOTSUPP;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_NOT_A_REPARSE_POINT:
    case ERROR_NEGATIVE_SEEK:
        return EINVAL;
    default:
        return EIO;
    }
}

bool failWithWin32(DWORD code)
{
    lastWin32Code = code;
    errno = errnoFromWin32(code);
    return false;
}

bool failWithLastError()
{
    return failWithWin32(GetLastError());
}

QString systemError(int error)
{
    // The system's words for the last Win32 failure, when that is what
    // error stands for; a value set by a C library call or by the layer
    // itself (EISDIR for a directory opened as a file) reads as the C
    // library words it.
    if (lastWin32Code != 0 && error != 0 && errnoFromWin32(lastWin32Code) == error) {
        const QString text = win32Text(lastWin32Code);
        if (!text.isEmpty())
            return text;
    }
    return standardText(error);
}

bool isFileInUse(int error)
{
    return error == EBUSY;
}

} // namespace Platform
