#include "removetree.h"

#include "platform/fileio.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A directory with at least this many files has them unlinked by several
// threads at once. Unlinking a file's last name frees its blocks, and on a
// disk mounted to discard freed blocks that waits for the device each time:
// several unlinks wait at once (a tree of many small files went about three
// times as fast with eight threads here), whereas a few files are not worth
// starting a thread for.
constexpr size_t ParallelFrom = 32;
constexpr size_t MaxThreads = 8;
constexpr size_t FilesPerThread = 16;

// Each level of the tree being emptied holds its directory open. Below this
// depth, or when no more files can be opened, a directory is moved up into
// the top of the tree instead and emptied from there by a later pass: a tree
// of any depth is removed with a bounded stack and bounded open files.
constexpr int MaxOpenDepth = 128;

struct Removal
{
    int topFd;
    unsigned moved = 0;
};

// Moves the entry 'name' of the directory open as fd into the top of the
// tree, under a name that is not taken there; true when it went.
bool moveToTop(int fd, const std::string &name, Removal &removal)
{
    if (removal.topFd < 0)
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string target = ".removing-" + std::to_string(removal.moved++);
        if (Platform::renameNoReplaceAt(fd, name.c_str(), removal.topFd, target.c_str()))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Unlinks the names (none of them a directory) from the directory open as
// fd; true when any went.
bool unlinkFiles(int fd, const std::vector<std::string> &names)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> removedAny{false};
    const auto work = [&] {
        for (size_t i; (i = next++) < names.size();) {
            if (Platform::removeFileAt(fd, names[i].c_str()))
                removedAny = true;
        }
    };
    std::vector<std::thread> helpers;
    if (names.size() >= ParallelFrom) {
        const size_t count = std::min(MaxThreads, names.size() / FilesPerThread) - 1;
        for (size_t i = 0; i < count; ++i) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error &) {
                break; // no thread to be had: the calling thread does it all
            }
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    return removedAny;
}

// Empties the directory open as fd (which this takes over and closes). Works
// by names relative to the open directory, so a tree of many files costs one
// system call per entry and no path is built. A directory entry is opened
// without following a link: a link is only ever unlinked, never descended into, since
// that would delete data that lives outside the tree.
void emptyDirectory(int fd, int depth, Removal &removal)
{
    Platform::DirectoryReader dir(fd);
    if (!dir.isOpen())
        return;
    // The directory is read whole before anything in it goes. Something
    // that appears meanwhile, or that readdir() skipped, is found by another
    // pass, as long as a pass removes anything and the next one finds the
    // directory changed: a file that another program holds open with leave
    // to delete it (Windows) is "removed" every time and still listed until
    // that program lets go.
    std::vector<std::string> files;
    std::vector<std::string> directories;
    std::vector<std::string> filesBefore;
    std::vector<std::string> directoriesBefore;
    for (bool removedAny = true; removedAny;) {
        removedAny = false;
        filesBefore.swap(files);
        directoriesBefore.swap(directories);
        files.clear();
        directories.clear();
        dir.rewind();
        const char *entry;
        bool isDirectory;
        while (dir.next(&entry, &isDirectory))
            (isDirectory ? directories : files).emplace_back(entry);
        if (files == filesBefore && directories == directoriesBefore)
            break;
        removedAny = unlinkFiles(fd, files);
        for (const std::string &name : directories) {
            if (depth >= MaxOpenDepth && moveToTop(fd, name, removal)) {
                removedAny = true;
                continue;
            }
            const int child = Platform::openDirectoryNoFollowAt(fd, name.c_str());
            if (child < 0 && (errno == EMFILE || errno == ENFILE) && depth > 0
                && moveToTop(fd, name, removal)) {
                removedAny = true;
                continue;
            }
            if (child >= 0)
                emptyDirectory(child, depth + 1, removal);
            if (Platform::removeDirectoryAt(fd, name.c_str()))
                removedAny = true;
        }
    }
}

} // namespace

void removeTree(const QString &path)
{
    // A trailing slash would make lstat() and open() follow a link.
    QByteArray encoded = Platform::encodeName(path);
    while (encoded.size() > 1 && encoded.endsWith('/'))
        encoded.chop(1);
    Platform::FileStatus info;
    if (!Platform::nameStatus(encoded, &info))
        return;
    if (!info.isDirectory()) {
        // A link (to a directory or not) goes itself; a plain file is no
        // tree and stays.
        if (info.isLink())
            Platform::removeFile(encoded);
        return;
    }
    const int fd = Platform::openDirectoryNoFollow(encoded);
    if (fd < 0)
        return;
    // The top stays open for the directories moved up into it; without a
    // descriptor to spare nothing is moved, and the tree goes as deep as
    // files can be opened.
    Removal removal{Platform::duplicate(fd)};
    emptyDirectory(fd, 0, removal);
    if (removal.topFd >= 0)
        Platform::closeFile(removal.topFd);
    Platform::removeDirectory(encoded);
}
