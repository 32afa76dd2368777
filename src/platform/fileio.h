#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Files by their encoded names (encodeName below) and by open handles. Every
// call that fails returns false or -1 and leaves the reason in errno, as the
// C library does; systemError() turns it into text.
namespace Platform {

// A file name as the calls below take it, and back: QFile::encodeName on
// POSIX; UTF-8 on Windows, whose local 8-bit code page cannot hold every name.
QByteArray encodeName(const QString &name);
QString decodeName(const QByteArray &name);

// An open file or directory, closed when this goes.
// Windows: a HANDLE closed with CloseHandle.
class FileHandle
{
public:
    explicit FileHandle(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileHandle();
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Closes what is open and takes fd instead.
    void reset(int fd = -1);
    // Gives the handle away without closing it.
    int release();
    // Closes now and tells whether the last writes made it.
    bool close();

private:
    int m_fd;
};

// Closes what fd has open; false when the last writes did not make it.
// Windows: CloseHandle.
bool closeFile(int fd);

// What lstat() tells of a name: the kind and permission bits (in mode, the
// bits of st_mode), size, identity, owner and time of the last change.
// Windows: GetFileInformationByHandle on a handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT, kind and bits made up from its attributes.
struct FileStatus
{
    uint mode = 0;
    qint64 size = 0;
    quint64 device = 0;
    quint64 inode = 0;
    uint owner = 0;
    qint64 modifiedS = 0;

    bool isRegular() const;
    bool isDirectory() const;
    bool isLink() const;
    // Read, write and execute for owner, group and others, and the
    // set-id and sticky bits.
    uint permissions() const { return mode & 07777; }
};

bool isRegularMode(uint mode);
bool isDirectoryMode(uint mode);
bool isLinkMode(uint mode);

// The owner's read, write and execute bits (S_IRWXU), and the write bits of
// group and others.
constexpr uint OwnerOnlyMode = 0700;
constexpr uint OwnerReadMode = 0400;
constexpr uint OthersWriteMode = 0022;

// Whether the file system takes two names that differ only in case for one
// file (Windows), so that whoever keys files by name must fold the case.
#ifdef Q_OS_WIN
constexpr bool NamesIgnoreCase = true;
#else
constexpr bool NamesIgnoreCase = false;
#endif

// name as this system compares names: two names are one file's when their
// folded forms are equal. POSIX: name itself. Windows: each UTF-16 unit in
// upper case, as NTFS's table of upper cases does (no full case folding).
QString foldedName(const QString &name);

// Why relativePath (its parts separated by "/" or a backslash) cannot name a
// file below a folder of this system; empty when it can. Empty parts, "." and
// ".." are steps of the path, not names. The text names the part at fault.
// POSIX: only a NUL character is refused (names are C strings there).
// Windows: what Win32 would silently turn into another name or a device,
// and what it refuses outright (see fileio_win.cpp).
QString nameProblem(const QString &relativePath);

// Opens for reading, following links. Windows: CreateFileW(GENERIC_READ).
int openForReading(const QByteArray &path);
// Opens for reading a name that is not a link and does not wait for a
// writer (a FIFO opens at once). Windows: CreateFileW with
// FILE_FLAG_OPEN_REPARSE_POINT, refused when the name is a reparse point.
int openForReadingNoFollow(const QByteArray &path);
// Creates a new file for writing; fails with EEXIST when the name is taken.
// Windows: CreateFileW(CREATE_NEW).
int createNew(const QByteArray &path, uint mode);
// Creates a new file for writing without following a link at the name;
// with replace, a file already there is truncated instead of refused.
// Windows: CreateFileW(CREATE_NEW or TRUNCATE_EXISTING) with
// FILE_FLAG_OPEN_REPARSE_POINT.
int createNoFollow(const QByteArray &path, uint mode, bool replace);
// Creates a new file that is only ever appended to.
// Windows: CreateFileW(FILE_APPEND_DATA, CREATE_NEW).
int createForAppending(const QByteArray &path, uint mode);
// Opens a directory, following a link to it. Windows: CreateFileW with
// FILE_FLAG_BACKUP_SEMANTICS.
int openDirectory(const QByteArray &path);
// Opens a directory that is not a link, by its name or by a name relative
// to the directory open as dir. Windows: CreateFileW with
// FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT (relative: by the
// directory's GetFinalPathNameByHandleW, as every *At call).
int openDirectoryNoFollow(const QByteArray &path);
int openDirectoryNoFollowAt(int dir, const char *name);
// A second handle to what fd has open. Windows: DuplicateHandle.
int duplicate(int fd);

// Writes all of data, going on after interruptions; false with errno set
// (EIO when the system takes nothing). Windows: WriteFile in a loop.
bool writeAll(int fd, const char *data, qint64 size);
bool writeAll(int fd, const QByteArray &bytes);
// One read() from the current position, tried again when interrupted: the
// count, 0 at the end, -1 on an error. Windows: ReadFile.
qint64 read(int fd, char *buffer, qint64 size);
// Reads at a 64-bit offset without moving the position, going on after
// interruptions. Windows: ReadFile with an OVERLAPPED offset.
qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset);
// Lets the kernel copy from in to out at their positions: the count moved,
// 0 at the end, -1 when it cannot. Windows: none (CopyFileExW works on
// names); the caller copies by hand.
qint64 copyRange(int in, int out, qint64 size);

// Waits until the file's data and its size are on the disk (or, for an
// open directory, its entries). Windows: FlushFileBuffers.
bool sync(int fd);
// Waits until the file's data is on the disk. Windows: FlushFileBuffers.
bool syncData(int fd);

// The status of an open file. Windows: GetFileInformationByHandle.
bool fileStatus(int fd, FileStatus *status);
// The status of a name, not following a link. Windows: CreateFileW with
// FILE_FLAG_OPEN_REPARSE_POINT, then GetFileInformationByHandle.
bool nameStatus(const QByteArray &path, FileStatus *status);
// The status of what the name leads to, following links. Windows:
// CreateFileW without FILE_FLAG_OPEN_REPARSE_POINT, then
// GetFileInformationByHandle.
bool targetStatus(const QByteArray &path, FileStatus *status);

// Sets the permission bits. Windows: SetFileAttributesW (read-only bit
// only; the rest stays with the folder's ACL).
bool setPermissions(int fd, uint mode);
bool setPermissions(const QByteArray &path, uint mode);
// The bits that new files lose (only read: it is set back at once).
// Windows: none (0).
uint creationMask();
// The effective user id of this process. Windows: 0, as every status's
// owner (no uid; ownership would be the owner SID).
uint currentUser();

// Who may change a folder, as far as its privacy goes.
enum class FolderAccess {
    Private,      // the user's own, and nobody else may change it
    OtherOwner,   // another user owns it
    OpenToOthers, // others may change it or what is in it
};
// Tells who may change the folder at path, whose nameStatus() is status.
// POSIX: the owner's uid against the effective user's, and the write bits
// of group and others. Windows (where uid and mode say nothing): the owner
// SID against the user's (or the token's default owner, which an elevated
// administrator's files get), and every entry of the DACL that grants a
// right to change the folder or its contents must name the user, SYSTEM
// or the Administrators group; no DACL at all lets everyone in. False with
// errno when the folder cannot be looked at.
bool folderAccess(const QByteArray &path, const FileStatus &status, FolderAccess *access);
// The environment variable by which a user moves the temporary directory.
// POSIX: TMPDIR. Windows: TEMP.
const char *tempDirectoryVariable();

// A second name for a file. Windows: CreateHardLinkW.
bool makeLink(const QByteArray &from, const QByteArray &to);
// A symbolic link at path that points to target. Windows: CreateSymbolicLinkW;
// EOPNOTSUPP where the system makes none.
bool makeSymbolicLink(const QByteArray &target, const QByteArray &path);
// Where the symbolic link at path points; false when it is no link.
// Windows: DeviceIoControl(FSCTL_GET_REPARSE_POINT).
bool readSymbolicLink(const QByteArray &path, QByteArray *target);
// Renames, replacing what has the new name. Windows:
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), clearing a
// read-only target's attribute first.
bool rename(const QByteArray &from, const QByteArray &to);
// Renames name in the directory open as fromDir to toName in the directory
// open as toDir; fails with EEXIST when toName is taken.
// Windows: MoveFileExW(MOVEFILE_WRITE_THROUGH) without replacing.
bool renameNoReplaceAt(int fromDir, const char *name, int toDir, const char *toName);
// Removes a name that is not a directory (a link to one is not). Windows:
// SetFileInformationByHandle(FileDispositionInfoEx, POSIX semantics), or
// FileDispositionInfo where that is not known, on a handle to the name.
bool removeFile(const QByteArray &path);
// The same for a name in the directory open as dir.
bool removeFileAt(int dir, const char *name);
// Removes an empty directory. Windows: as removeFile.
bool removeDirectory(const QByteArray &path);
bool removeDirectoryAt(int dir, const char *name);
// Makes a directory. Windows: CreateDirectoryW (with a security descriptor
// for the owner only, where mode is OwnerOnlyMode).
bool makeDirectory(const QByteArray &path, uint mode);

// The entries of a directory open as a handle, which the reader takes over
// and closes. Windows: FindFirstFileExW / FindNextFileW, or
// GetFileInformationByHandleEx(FileIdBothDirectoryInfo) on the handle.
class DirectoryReader
{
public:
    explicit DirectoryReader(int fd);
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader &) = delete;
    DirectoryReader &operator=(const DirectoryReader &) = delete;

    bool isOpen() const { return m_dir != nullptr; }
    // Starts again from the first entry.
    void rewind();
    // The next entry but "." and "..", and whether it is a directory (a link
    // to one is not); false at the end.
    bool next(const char **name, bool *isDirectory);

private:
    void *m_dir = nullptr;
    int m_fd = -1;
};

} // namespace Platform
