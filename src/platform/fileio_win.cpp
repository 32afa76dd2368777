#include "fileio.h"
#include "win32error.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <memory>
#include <string>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <windows.h>
#include <winioctl.h>

// The same contract as the POSIX file layer, on Win32 handles. Callers hold
// C runtime descriptors (_open_osfhandle), so that they keep their int and
// QFile::open(int) still works; the calls here take the handle back with
// _get_osfhandle. Every name is opened without following a link or junction
// where the POSIX side says O_NOFOLLOW, and every handle shares reading,
// writing and deletion, since the POSIX callers rename and remove names that
// are open.

extern "C" NTSYSAPI LONG NTAPI RtlGetLastNtStatus();

namespace Platform {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr LONG StatusDeletePending = LONG(0xC0000056);

// The POSIX kinds, so that FileStatus::mode reads the same on both systems.
constexpr uint KindMask = 0170000;
constexpr uint RegularKind = 0100000;
constexpr uint DirectoryKind = 0040000;
constexpr uint LinkKind = 0120000;

// SetFileInformationByHandle(FileDispositionInfoEx): Windows 10 1607 and
// later; the headers only offer it to newer targets.
constexpr auto DispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr DWORD DispositionDelete = 0x1;
constexpr DWORD DispositionPosixSemantics = 0x2;
constexpr DWORD DispositionIgnoreReadOnly = 0x10;

// A sharing violation (a virus scanner or indexer that opened the file) and
// a name whose deletion is pending pass within moments; a few hundred
// milliseconds of retries spare the user a failure that means nothing. A
// file that a program holds open without sharing gets about 3 s in all, for
// a program that is just closing it, before the caller names the file.
constexpr int RetryAttempts = 15;
constexpr DWORD RetryPauseMs = 20;
constexpr int InUseAttempts = RetryAttempts + 27;
constexpr DWORD InUsePauseMs = 100;

bool isTransient(DWORD code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION
           || code == ERROR_DELETE_PENDING
           || (code == ERROR_ACCESS_DENIED && RtlGetLastNtStatus() == StatusDeletePending);
}

// After a failed call: waits and tells whether to try again; the failure's
// code stays in GetLastError() either way.
bool waitBeforeRetry(int attempt)
{
    const DWORD code = GetLastError();
    const bool inUse = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    if (attempt >= (inUse ? InUseAttempts : RetryAttempts) || !isTransient(code))
        return false;
    Sleep(attempt < RetryAttempts ? RetryPauseMs : InUsePauseMs);
    SetLastError(code);
    return true;
}

std::wstring wide(const QString &text)
{
    return std::wstring(reinterpret_cast<const wchar_t *>(text.utf16()), size_t(text.size()));
}

// The name as Win32 takes it: backslashes, made absolute and given the \\?\
// prefix, so that a path longer than MAX_PATH works and nothing in it is
// reinterpreted (trailing dots and blanks, device names).
std::wstring nativeName(const QByteArray &path)
{
    QString name = decodeName(path);
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (name.isEmpty() || name.startsWith(QLatin1String("\\\\?\\"))
        || name.startsWith(QLatin1String("\\\\.\\")))
        return wide(name);
    const std::wstring given = wide(name);
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return given;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return given;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE handleOf(int fd)
{
    const intptr_t handle = fd < 0 ? -1 : _get_osfhandle(fd);
    if (handle == -1 || handle == -2) {
        failWithWin32(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(handle);
}

// Hands handle to the C runtime as a descriptor (binary, so that nothing
// reading through it translates line ends); -1 when it has no room left.
int descriptorFor(HANDLE handle, int flags)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = _open_osfhandle(intptr_t(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        failWithWin32(ERROR_TOO_MANY_OPEN_FILES);
    }
    return fd;
}

HANDLE openHandle(const std::wstring &name, DWORD access, DWORD disposition, DWORD flags)
{
    for (int attempt = 0;; ++attempt) {
        const HANDLE handle =
            CreateFileW(name.c_str(), access, ShareAll, nullptr, disposition, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE || !waitBeforeRetry(attempt))
            return handle;
    }
}

DWORD attributesOf(const std::wstring &name)
{
    return GetFileAttributesW(name.c_str());
}

bool isDirectoryName(const std::wstring &name)
{
    const DWORD attributes = attributesOf(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A failed open or removal: Win32 says "access denied" where POSIX says
// that the name is a directory.
void failOpening(const std::wstring &name)
{
    const DWORD code = GetLastError();
    failWithWin32(code);
    if (code == ERROR_ACCESS_DENIED && isDirectoryName(name))
        errno = EISDIR;
}

// Whether the handle, opened with FILE_FLAG_OPEN_REPARSE_POINT, is a link,
// a junction or another reparse point that stands for a name elsewhere.
bool isNameSurrogate(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag);
}

bool isLinkHandle(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info))
        return false;
    return isNameSurrogate(info.FileAttributes, info.ReparseTag);
}

// Closes a handle that must not be used and fails as O_NOFOLLOW does.
int refuseLink(HANDLE handle)
{
    CloseHandle(handle);
    failWithWin32(ERROR_STOPPED_ON_SYMLINK);
    return -1;
}

// Opens a name that is not a link (FILE_FLAG_OPEN_REPARSE_POINT, then the
// handle is checked: the flag opens the link itself instead of refusing it).
HANDLE openNoFollow(const std::wstring &name, DWORD access, DWORD disposition, DWORD flags,
                    bool *isLink)
{
    const HANDLE handle =
        openHandle(name, access, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT);
    *isLink = handle != INVALID_HANDLE_VALUE && isLinkHandle(handle);
    return handle;
}

int openDirectoryName(const std::wstring &name, bool noFollow)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE handle = openHandle(name, GENERIC_READ, OPEN_EXISTING, flags);
    if (handle == INVALID_HANDLE_VALUE) {
        failWithLastError();
        return -1;
    }
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        failWithLastError();
        CloseHandle(handle);
        return -1;
    }
    if (noFollow && isNameSurrogate(info.FileAttributes, info.ReparseTag))
        return refuseLink(handle);
    if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        failWithWin32(ERROR_DIRECTORY);
        return -1;
    }
    return descriptorFor(handle, _O_RDONLY);
}

// The name of the entry name in the directory open as dir: the directory's
// final path and the name. Windows refuses to rename a directory while
// anything below it is open, so no folder above dir can move meanwhile; dir
// itself shares deletion and could be renamed between the two calls, which
// the POSIX *at calls would follow and this does not (the operation then
// fails with ENOENT, or works on a new directory of the old name).
bool nameIn(int dir, const char *name, std::wstring *result)
{
    const HANDLE handle = handleOf(dir);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, VOLUME_NAME_DOS);
    if (needed == 0)
        return failWithLastError();
    std::wstring path(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), needed, VOLUME_NAME_DOS);
    if (length == 0 || length >= needed)
        return failWithLastError();
    path.resize(length);
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    QString entry = decodeName(name);
    entry.replace(QLatin1Char('/'), QLatin1Char('\\'));
    *result = path + wide(entry);
    return true;
}

qint64 secondsSinceEpoch(const FILETIME &time)
{
    // FILETIME counts 100 ns steps since 1601-01-01.
    constexpr qint64 EpochDifference = 116444736000000000LL;
    const qint64 ticks = (qint64(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - EpochDifference) / 10000000;
}

// The status of an open handle. Windows has no mode bits: the kind comes
// from the attributes, and the permissions say what the read-only attribute
// allows (rw-r--r--, or r--r--r-- when it is set; directories also have x).
// Others may write nothing as far as these bits go: who may is the folder's
// ACL's business. Nor is there a uid: owner is 0, as currentUser() is.
bool statusOf(HANDLE handle, FileStatus *status)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return failWithLastError();
    DWORD tag = 0;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tagInfo;
        if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tagInfo, sizeof tagInfo))
            tag = tagInfo.ReparseTag;
    }
    const bool directory = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    uint mode;
    if (isNameSurrogate(info.dwFileAttributes, tag))
        mode = LinkKind | 0777;
    else if (directory)
        mode = DirectoryKind | 0755;
    else
        mode = RegularKind | 0644;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) && !directory)
        mode &= ~uint(0222);
    status->mode = mode;
    status->size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status->device = info.dwVolumeSerialNumber;
    status->inode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    status->owner = 0;
    status->modifiedS = secondsSinceEpoch(info.ftLastWriteTime);
    return true;
}

bool nameStatusOf(const QByteArray &path, FileStatus *status, bool followLinks)
{
    const std::wstring name = nativeName(path);
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = openHandle(name, FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return failWithLastError();
    const bool ok = statusOf(handle, status);
    CloseHandle(handle);
    return ok;
}

// The read-only attribute for mode: set when the owner may not write. It
// means nothing on a directory and stays off there.
DWORD attributesFor(DWORD attributes, uint mode)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return attributes;
    attributes = (mode & 0200) ? attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)
                               : attributes | FILE_ATTRIBUTE_READONLY;
    attributes &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool setAttributesOf(HANDLE handle, uint mode)
{
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info))
        return failWithLastError();
    const DWORD attributes = attributesFor(info.FileAttributes, mode);
    if (attributes == info.FileAttributes)
        return true;
    // Zero times leave the times as they are.
    FILE_BASIC_INFO change = {};
    change.FileAttributes = attributes;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &change, sizeof change))
        return failWithLastError();
    return true;
}

// Removes a name without following it. With POSIX semantics (Windows 10
// and NTFS) the name goes at once even while others hold the file open, as
// unlink() does; elsewhere it goes when the last handle closes.
bool removeName(const std::wstring &name, bool directory)
{
    for (int attempt = 0;; ++attempt) {
        const HANDLE handle = CreateFileW(
            name.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ShareAll,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (waitBeforeRetry(attempt))
                continue;
            return failWithLastError();
        }
        FILE_ATTRIBUTE_TAG_INFO info;
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
            failWithLastError();
            CloseHandle(handle);
            return false;
        }
        const bool isLink = isNameSurrogate(info.FileAttributes, info.ReparseTag);
        const bool isDirectory = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink;
        if (isDirectory != directory) {
            CloseHandle(handle);
            // A link to a directory is removed as a file is, and refused
            // as a directory, as rmdir() refuses a link.
            failWithWin32(directory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
            if (!directory)
                errno = EISDIR;
            return false;
        }
        FILE_DISPOSITION_INFO_EX posix = {DispositionDelete | DispositionPosixSemantics
                                          | DispositionIgnoreReadOnly};
        bool ok = SetFileInformationByHandle(handle, DispositionInfoEx, &posix, sizeof posix);
        if (!ok) {
            const DWORD code = GetLastError();
            if (code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED
                || code == ERROR_INVALID_FUNCTION) {
                // An older system or another file system: a read-only
                // file must lose the attribute before it can go.
                if (info.FileAttributes & FILE_ATTRIBUTE_READONLY)
                    setAttributesOf(handle, 0600);
                FILE_DISPOSITION_INFO classic = {TRUE};
                ok = SetFileInformationByHandle(handle, FileDispositionInfo, &classic,
                                                sizeof classic);
            } else {
                SetLastError(code);
            }
        }
        const DWORD code = GetLastError();
        CloseHandle(handle);
        if (ok)
            return true;
        SetLastError(code);
        if (!waitBeforeRetry(attempt))
            return failWithWin32(code);
    }
}

bool moveName(const std::wstring &from, const std::wstring &to, DWORD flags)
{
    bool clearedReadOnly = false;
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), flags))
            return true;
        const DWORD code = GetLastError();
        // rename() replaces a read-only file; MoveFileExW only one that
        // may be written.
        const DWORD target = attributesOf(to);
        if (code == ERROR_ACCESS_DENIED && (flags & MOVEFILE_REPLACE_EXISTING) && !clearedReadOnly
            && target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY)
            && !(target & FILE_ATTRIBUTE_DIRECTORY)) {
            clearedReadOnly = true;
            SetFileAttributesW(to.c_str(), target & ~DWORD(FILE_ATTRIBUTE_READONLY));
            continue;
        }
        SetLastError(code);
        if (!waitBeforeRetry(attempt)) {
            failWithWin32(code);
            if (code == ERROR_ACCESS_DENIED && target != INVALID_FILE_ATTRIBUTES
                && (target & FILE_ATTRIBUTE_DIRECTORY) && !isDirectoryName(from))
                errno = EISDIR;
            return false;
        }
    }
}

// The user's SID as text, for the ACL of a private directory.
QString currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return QString();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    QString text;
    wchar_t *sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.get(), size, &size)
        && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.get())->User.Sid, &sid)) {
        text = QString::fromWCharArray(sid);
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// What FSCTL_GET_REPARSE_POINT gives for a link or a junction.
struct ReparseData
{
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
    USHORT substituteNameOffset;
    USHORT substituteNameLength;
    USHORT printNameOffset;
    USHORT printNameLength;
    // A symbolic link has a ULONG of flags here; a junction does not.
};

} // namespace

QByteArray encodeName(const QString &name)
{
    return name.toUtf8();
}

QString decodeName(const QByteArray &name)
{
    return QString::fromUtf8(name);
}

namespace {

// NTFS holds at most 255 UTF-16 units in one name, and Win32 at most 32 767
// in a whole \\?\ path (so also in the part of it below the root).
constexpr qsizetype MaxNameLength = 255;
constexpr qsizetype MaxPathLength = 32767;

// A character of a name as a message shows it: control characters by
// their code, as they would show nothing.
QString characterText(QChar c)
{
    if (c.unicode() < 0x20)
        return QStringLiteral("U+%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0')).toUpper();
    return QLatin1Char('"') + c + QLatin1Char('"');
}

bool isForbiddenCharacter(QChar c)
{
    // NUL ends the name; 1..31 are refused in names (only streams take them).
    if (c.unicode() < 0x20)
        return true;
    // ":" separates a file from its alternate data streams ("a.txt:x" writes
    // a hidden stream of a.txt, "a.txt::$DATA" a.txt's own data under another
    // name, which its backup would miss) and, after a letter, names a drive.
    // The others are wildcards and redirections that Win32 refuses.
    return QStringView(u"<>:\"|?*").contains(c);
}

// Win32 takes these names for devices in every folder, also followed by an
// extension ("NUL.txt") and in any case: the console (CON, CONIN$, CONOUT$),
// the printer (PRN), the auxiliary port (AUX), the null device (NUL) and the
// serial and parallel ports COM0..COM9 and LPT0..LPT9, whose digit may also
// be one of the superscripts ¹ ² ³ that Windows counts as digits (Explorer
// refuses the 0 too). Blanks before the extension do not change that.
bool isDeviceName(const QString &name)
{
    QString base = name.left(name.indexOf(QLatin1Char('.'))).toUpper();
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    static const QStringList devices{QStringLiteral("CON"),    QStringLiteral("PRN"),
                                     QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                     QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (devices.contains(base))
        return true;
    if (base.size() != 4
        || (!base.startsWith(QLatin1String("COM")) && !base.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar digit = base.at(3);
    return (digit >= QLatin1Char('0') && digit <= QLatin1Char('9')) || digit == QChar(0xb9)
           || digit == QChar(0xb2) || digit == QChar(0xb3);
}

// At most eight characters, a "~" among them, and at most one dot with
// one to three characters after it.
bool isShortNameForm(const QString &name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const qsizetype baseLength = dot < 0 ? name.size() : dot;
    const qsizetype extensionLength = dot < 0 ? 0 : name.size() - dot - 1;
    return baseLength >= 1 && baseLength <= 8 && name.left(baseLength).contains(QLatin1Char('~'))
           && (dot < 0 || (extensionLength >= 1 && extensionLength <= 3
                           && name.indexOf(QLatin1Char('.'), dot + 1) < 0));
}

} // namespace

QString foldedName(const QString &name)
{
    // NTFS compares names by its table of upper cases, one UTF-16 unit at a
    // time, with no full case folding: "k" and the Kelvin sign are two names.
    // Its table takes no letter outside ASCII to one in it, as Unicode's
    // upper case does for the dotless i and the long s.
    QString folded = name;
    for (QChar &c : folded) {
        const char16_t upper = QChar::toUpper(c.unicode());
        if (c.unicode() < 0x80 || upper >= 0x80)
            c = QChar(upper);
    }
    return folded;
}

QString nameProblem(const QString &relativePath)
{
    if (relativePath.size() > MaxPathLength) {
        return QCoreApplication::translate("Platform",
                                           "the path is too long (%1 characters, at most %2)")
            .arg(relativePath.size())
            .arg(MaxPathLength);
    }
    QString path = relativePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    for (const QString &name : path.split(QLatin1Char('/'))) {
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        for (const QChar c : name) {
            if (isForbiddenCharacter(c)) {
                return QCoreApplication::translate(
                           "Platform", "%1 holds the character %2, which file names on this system "
                                       "cannot hold")
                    .arg(name, characterText(c));
            }
        }
        if (isDeviceName(name)) {
            return QCoreApplication::translate("Platform",
                                               "%1 is the name of a device on this system")
                .arg(name);
        }
        // Win32 drops dots and blanks at the end of a name ("a.txt." is
        // "a.txt"); through \\?\ they make a file that Explorer cannot remove.
        if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) {
            return QCoreApplication::translate(
                       "Platform",
                       "%1 ends with a dot or a blank, which this system drops from file names")
                .arg(name);
        }
        // NTFS gives a long name a second, short one in the 8.3 form with a
        // "~" ("LONGFI~1.TXT"): a row of that form may be another row's
        // file, whose backup the second row's would then replace.
        if (isShortNameForm(name)) {
            return QCoreApplication::translate(
                       "Platform",
                       "%1 has the form of the short name this system gives a longer name")
                .arg(name);
        }
        if (name.size() > MaxNameLength) {
            return QCoreApplication::translate(
                       "Platform", "the name %1 is too long (%2 characters, at most %3)")
                .arg(name, QString::number(name.size()), QString::number(MaxNameLength));
        }
    }
    return QString();
}

bool closeFile(int fd)
{
    return _close(fd) == 0;
}

bool isRegularMode(uint mode)
{
    return (mode & KindMask) == RegularKind;
}

bool isDirectoryMode(uint mode)
{
    return (mode & KindMask) == DirectoryKind;
}

bool isLinkMode(uint mode)
{
    return (mode & KindMask) == LinkKind;
}

int openForReading(const QByteArray &path)
{
    const std::wstring name = nativeName(path);
    const HANDLE handle = openHandle(name, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        failOpening(name);
        return -1;
    }
    return descriptorFor(handle, _O_RDONLY);
}

int openForReadingNoFollow(const QByteArray &path)
{
    const std::wstring name = nativeName(path);
    bool isLink;
    const HANDLE handle =
        openNoFollow(name, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, &isLink);
    if (handle == INVALID_HANDLE_VALUE) {
        failOpening(name);
        return -1;
    }
    if (isLink)
        return refuseLink(handle);
    return descriptorFor(handle, _O_RDONLY);
}

int createNew(const QByteArray &path, uint mode)
{
    // Of the mode only the owner's write bit has a Win32 counterpart, the
    // read-only attribute (the handle may still write); the file gets its
    // folder's inherited ACL.
    const std::wstring name = nativeName(path);
    const HANDLE handle = openHandle(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                                     attributesFor(0, mode) | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        failOpening(name);
        return -1;
    }
    return descriptorFor(handle, 0);
}

int createNoFollow(const QByteArray &path, uint mode, bool replace)
{
    if (!replace)
        return createNew(path, mode);
    const std::wstring name = nativeName(path);
    // O_CREAT | O_TRUNC | O_NOFOLLOW: an existing file is opened without
    // following a link and emptied; only when there is none is one made.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool isLink;
        HANDLE handle = openNoFollow(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, &isLink);
        if (handle != INVALID_HANDLE_VALUE) {
            if (isLink)
                return refuseLink(handle);
            if (!SetEndOfFile(handle)) {
                failWithLastError();
                CloseHandle(handle);
                return -1;
            }
            return descriptorFor(handle, 0);
        }
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            failOpening(name);
            return -1;
        }
        handle = openHandle(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle != INVALID_HANDLE_VALUE)
            return descriptorFor(handle, 0);
        // Made by someone else in between: open that one.
        if (GetLastError() != ERROR_FILE_EXISTS) {
            failOpening(name);
            return -1;
        }
    }
    failWithWin32(ERROR_FILE_EXISTS);
    return -1;
}

int createForAppending(const QByteArray &path, uint mode)
{
    Q_UNUSED(mode);
    const std::wstring name = nativeName(path);
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    const HANDLE handle =
        openHandle(name, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES
                             | SYNCHRONIZE,
                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        failOpening(name);
        return -1;
    }
    return descriptorFor(handle, _O_APPEND);
}

int openDirectory(const QByteArray &path)
{
    return openDirectoryName(nativeName(path), false);
}

int openDirectoryNoFollow(const QByteArray &path)
{
    return openDirectoryName(nativeName(path), true);
}

int openDirectoryNoFollowAt(int dir, const char *name)
{
    std::wstring full;
    if (!nameIn(dir, name, &full))
        return -1;
    return openDirectoryName(full, true);
}

int duplicate(int fd)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    HANDLE copy;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        failWithLastError();
        return -1;
    }
    return descriptorFor(copy, 0);
}

bool writeAll(int fd, const char *data, qint64 size)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    while (size > 0) {
        const DWORD chunk = DWORD(qMin<qint64>(size, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr))
            return failWithLastError();
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

qint64 read(int fd, char *buffer, qint64 size)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    DWORD count = 0;
    if (!ReadFile(handle, buffer, DWORD(qMin<qint64>(size, 1 << 30)), &count, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE)
            return 0;
        failWithWin32(code);
        return -1;
    }
    return count;
}

qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    if (offset < 0) {
        failWithWin32(ERROR_NEGATIVE_SEEK);
        return -1;
    }
    // A read with an offset moves a synchronous handle's position; pread()
    // does not, so it is put back.
    LARGE_INTEGER position;
    const LARGE_INTEGER zero = {};
    const bool hasPosition = SetFilePointerEx(handle, zero, &position, FILE_CURRENT);
    OVERLAPPED at = {};
    at.Offset = DWORD(quint64(offset) & 0xffffffffu);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD count = 0;
    const bool ok = ReadFile(handle, buffer, DWORD(qMin<qint64>(size, 1 << 30)), &count, &at);
    const DWORD code = GetLastError();
    if (hasPosition)
        SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
    if (!ok) {
        if (code == ERROR_HANDLE_EOF)
            return 0;
        failWithWin32(code);
        return -1;
    }
    return count;
}

qint64 copyRange(int in, int out, qint64 size)
{
    Q_UNUSED(in);
    Q_UNUSED(out);
    Q_UNUSED(size);
    errno = ENOSYS;
    return -1;
}

bool sync(int fd)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (FlushFileBuffers(handle))
        return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_HANDLE) {
        BY_HANDLE_FILE_INFORMATION info;
        // A directory's entries are written through by the renames
        // themselves (MOVEFILE_WRITE_THROUGH); there is nothing to flush.
        if (GetFileInformationByHandle(handle, &info)
            && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        // FlushFileBuffers needs write access, fsync() does not.
        const HANDLE writable = ReOpenFile(handle, GENERIC_WRITE, ShareAll, 0);
        if (writable != INVALID_HANDLE_VALUE) {
            const bool ok = FlushFileBuffers(writable);
            const DWORD flushCode = GetLastError();
            CloseHandle(writable);
            return ok || failWithWin32(flushCode);
        }
    }
    return failWithWin32(code);
}

bool syncData(int fd)
{
    return sync(fd);
}

bool fileStatus(int fd, FileStatus *status)
{
    const HANDLE handle = handleOf(fd);
    return handle != INVALID_HANDLE_VALUE && statusOf(handle, status);
}

bool nameStatus(const QByteArray &path, FileStatus *status)
{
    return nameStatusOf(path, status, false);
}

bool targetStatus(const QByteArray &path, FileStatus *status)
{
    return nameStatusOf(path, status, true);
}

bool setPermissions(int fd, uint mode)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (setAttributesOf(handle, mode))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    // fchmod() needs no write access to the descriptor.
    const HANDLE attributes =
        ReOpenFile(handle, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ShareAll, 0);
    if (attributes == INVALID_HANDLE_VALUE)
        return failWithLastError();
    const bool ok = setAttributesOf(attributes, mode);
    CloseHandle(attributes);
    return ok;
}

bool setPermissions(const QByteArray &path, uint mode)
{
    const std::wstring name = nativeName(path);
    const DWORD attributes = attributesOf(name);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return failWithLastError();
    const DWORD wanted = attributesFor(attributes, mode);
    return wanted == attributes || SetFileAttributesW(name.c_str(), wanted)
           || failWithLastError();
}

uint creationMask()
{
    return 0;
}

uint currentUser()
{
    // No uid on Windows: 0, as every status's owner (see statusOf).
    return 0;
}

namespace {

// What the process's token says of a SID: TokenUser or TokenOwner.
std::unique_ptr<char[]> tokenInformation(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(size ? new char[size] : nullptr);
    if (!buffer || !GetTokenInformation(token, kind, buffer.get(), size, &size))
        buffer.reset();
    CloseHandle(token);
    return buffer;
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// The rights that change a folder, its entries or the files in it (through
// inheritance), or hand such rights on.
constexpr ACCESS_MASK ChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD
    | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

} // namespace

const char *tempDirectoryVariable()
{
    return "TEMP";
}

bool folderAccess(const QByteArray &path, const FileStatus &, FolderAccess *access)
{
    const HANDLE handle = openHandle(nativeName(path), READ_CONTROL, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return failWithLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    const DWORD result = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &security);
    CloseHandle(handle);
    if (result != ERROR_SUCCESS)
        return failWithWin32(result);
    const std::unique_ptr<char[]> user = tokenInformation(TokenUser);
    const std::unique_ptr<char[]> defaultOwner = tokenInformation(TokenOwner);
    if (!user || !defaultOwner) {
        LocalFree(security);
        return failWithLastError();
    }
    const PSID userSid = reinterpret_cast<TOKEN_USER *>(user.get())->User.Sid;
    const PSID ownerSid = reinterpret_cast<TOKEN_OWNER *>(defaultOwner.get())->Owner;
    const auto trusted = [&](PSID sid) {
        // CREATOR OWNER stands for whoever makes an entry inside, who
        // must be allowed to already.
        return EqualSid(sid, userSid) || EqualSid(sid, ownerSid)
               || isWellKnown(sid, WinLocalSystemSid)
               || isWellKnown(sid, WinBuiltinAdministratorsSid)
               || isWellKnown(sid, WinCreatorOwnerSid);
    };

    *access = FolderAccess::Private;
    if (!owner || !(EqualSid(owner, userSid) || EqualSid(owner, ownerSid)))
        *access = FolderAccess::OtherOwner;
    else if (!dacl)
        *access = FolderAccess::OpenToOthers;
    for (DWORD i = 0; *access == FolderAccess::Private && i < dacl->AceCount; ++i) {
        void *entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const auto *header = static_cast<ACE_HEADER *>(entry);
        // Denying entries only take rights away; an allowing one of a kind
        // not read here counts as open when it grants a change.
        switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            const auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
            if ((allowed->Mask & ChangeRights)
                && !trusted(PSID(const_cast<DWORD *>(&allowed->SidStart))))
                *access = FolderAccess::OpenToOthers;
            break;
        }
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            if (static_cast<ACCESS_ALLOWED_OBJECT_ACE *>(entry)->Mask & ChangeRights)
                *access = FolderAccess::OpenToOthers;
            break;
        default:
            break;
        }
    }
    LocalFree(security);
    return true;
}

bool makeLink(const QByteArray &from, const QByteArray &to)
{
    return CreateHardLinkW(nativeName(to).c_str(), nativeName(from).c_str(), nullptr)
           || failWithLastError();
}

bool makeSymbolicLink(const QByteArray &target, const QByteArray &path)
{
    QString destination = decodeName(target);
    destination.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const std::wstring name = nativeName(path);
    // A link to a directory must say so when it is made.
    std::wstring resolved = wide(destination);
    if (QFileInfo(decodeName(target)).isRelative()) {
        const std::wstring::size_type slash = name.find_last_of(L'\\');
        resolved = name.substr(0, slash + 1) + resolved;
    } else {
        resolved = nativeName(target);
    }
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (isDirectoryName(resolved))
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    const std::wstring link = wide(destination);
    bool made = CreateSymbolicLinkW(name.c_str(), link.c_str(), flags);
    // Systems before Windows 10 1703 do not know the unprivileged flag.
    if (!made && GetLastError() == ERROR_INVALID_PARAMETER)
        made = CreateSymbolicLinkW(name.c_str(), link.c_str(),
                                   flags & ~DWORD(SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE));
    if (!made)
        return failWithLastError();
    // Some implementations (Wine's) say yes and make nothing.
    const DWORD attributes = attributesOf(name);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return failWithWin32(ERROR_NOT_SUPPORTED);
    return true;
}

bool readSymbolicLink(const QByteArray &path, QByteArray *target)
{
    const HANDLE handle =
        openHandle(nativeName(path), FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return failWithLastError();
    std::unique_ptr<char[]> buffer(new char[MAXIMUM_REPARSE_DATA_BUFFER_SIZE]);
    DWORD size = 0;
    const bool ok = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.get(),
                                    MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &size, nullptr);
    const DWORD code = GetLastError();
    CloseHandle(handle);
    if (!ok) {
        // readlink() on a name that is no link.
        failWithWin32(code);
        if (code == ERROR_NOT_A_REPARSE_POINT)
            errno = EINVAL;
        return false;
    }
    const auto *data = reinterpret_cast<const ReparseData *>(buffer.get());
    const char *names = buffer.get() + sizeof(ReparseData);
    if (data->tag == IO_REPARSE_TAG_SYMLINK)
        names += sizeof(ULONG);
    else if (data->tag != IO_REPARSE_TAG_MOUNT_POINT) {
        errno = EINVAL;
        return false;
    }
    // The print name is the target as it was given; the substitute name
    // carries the \??\ prefix of an absolute target.
    USHORT offset = data->printNameOffset;
    USHORT length = data->printNameLength;
    if (length == 0) {
        offset = data->substituteNameOffset;
        length = data->substituteNameLength;
    }
    if (names + offset + length > buffer.get() + size) {
        errno = EINVAL;
        return false;
    }
    QString text = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(names + offset),
                                           length / sizeof(wchar_t));
    if (text.startsWith(QLatin1String("\\??\\")))
        text.remove(0, 4);
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    *target = encodeName(text);
    return true;
}

bool rename(const QByteArray &from, const QByteArray &to)
{
    return moveName(nativeName(from), nativeName(to),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool renameNoReplaceAt(int fromDir, const char *name, int toDir, const char *toName)
{
    std::wstring from;
    std::wstring to;
    return nameIn(fromDir, name, &from) && nameIn(toDir, toName, &to)
           && moveName(from, to, MOVEFILE_WRITE_THROUGH);
}

bool removeFile(const QByteArray &path)
{
    return removeName(nativeName(path), false);
}

bool removeFileAt(int dir, const char *name)
{
    std::wstring full;
    return nameIn(dir, name, &full) && removeName(full, false);
}

bool removeDirectory(const QByteArray &path)
{
    return removeName(nativeName(path), true);
}

bool removeDirectoryAt(int dir, const char *name)
{
    std::wstring full;
    return nameIn(dir, name, &full) && removeName(full, true);
}

bool makeDirectory(const QByteArray &path, uint mode)
{
    const std::wstring name = nativeName(path);
    if (mode != OwnerOnlyMode)
        return CreateDirectoryW(name.c_str(), nullptr) || failWithLastError();
    // Private: a protected ACL that grants the user and SYSTEM, inherited
    // by everything made inside. folderAccess() also takes an entry for the
    // Administrators group as private, on purpose: folders that Windows
    // makes in a profile (TEMP, LOCALAPPDATA) inherit one, and an
    // administrator can take any folder over anyway, so it opens nothing
    // to another ordinary user. What the updater makes itself needs no
    // such entry and gets none.
    const QString sid = currentUserSid();
    if (sid.isEmpty())
        return failWithLastError();
    const std::wstring descriptor =
        wide(QStringLiteral("D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(sid));
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor.c_str(), SDDL_REVISION_1,
                                                              &security, nullptr))
        return failWithLastError();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    const bool ok = CreateDirectoryW(name.c_str(), &attributes);
    const DWORD code = GetLastError();
    LocalFree(security);
    return ok || failWithWin32(code);
}

namespace {

// The reader's state: a buffer of FILE_ID_BOTH_DIR_INFO records from the
// directory handle and the place of the next one.
struct DirectoryListing
{
    HANDLE handle;
    static constexpr DWORD BufferSize = 64 * 1024;
    std::unique_ptr<LONGLONG[]> buffer{new LONGLONG[BufferSize / sizeof(LONGLONG)]};
    DWORD offset = 0;
    bool filled = false;
    bool restart = true;
    QByteArray name;
};

} // namespace

DirectoryReader::DirectoryReader(int fd)
    : m_fd(fd)
{
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        if (fd >= 0)
            _close(fd);
        m_fd = -1;
        return;
    }
    m_dir = new DirectoryListing{handle};
}

DirectoryReader::~DirectoryReader()
{
    if (m_dir) {
        delete static_cast<DirectoryListing *>(m_dir);
        _close(m_fd);
    }
}

void DirectoryReader::rewind()
{
    auto *listing = static_cast<DirectoryListing *>(m_dir);
    listing->filled = false;
    listing->restart = true;
}

bool DirectoryReader::next(const char **name, bool *isDirectory)
{
    auto *listing = static_cast<DirectoryListing *>(m_dir);
    for (;;) {
        if (!listing->filled) {
            const FILE_INFO_BY_HANDLE_CLASS kind =
                listing->restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo;
            if (!GetFileInformationByHandleEx(listing->handle, kind, listing->buffer.get(),
                                              DirectoryListing::BufferSize)) {
                if (GetLastError() != ERROR_NO_MORE_FILES)
                    failWithLastError();
                return false;
            }
            listing->restart = false;
            listing->filled = true;
            listing->offset = 0;
        }
        const auto *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(
            reinterpret_cast<const char *>(listing->buffer.get()) + listing->offset);
        if (entry->NextEntryOffset == 0)
            listing->filled = false;
        else
            listing->offset += entry->NextEntryOffset;
        const QString entryName = QString::fromWCharArray(
            entry->FileName, int(entry->FileNameLength / sizeof(wchar_t)));
        if (entryName == QLatin1String(".") || entryName == QLatin1String(".."))
            continue;
        // For a reparse point the EA size field holds its tag.
        *isDirectory = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                       && !isNameSurrogate(entry->FileAttributes, entry->EaSize);
        listing->name = encodeName(entryName);
        *name = listing->name.constData();
        return true;
    }
}

} // namespace Platform
