#include "platform/PosixIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/FileDescriptor.h"

namespace lv::posix {

int writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;  // no progress and no reason: never loop on it
        data.remove_prefix(std::size_t(n));
    }
    return 0;
}

int readAt(int fd, std::uint64_t offset, std::size_t length, std::string& out)
{
    out.assign(length, '\0');
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, length - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        done += std::size_t(n);
    }
    return 0;
}

namespace {

// Bytes copied in the kernel per call; after each, the written range is handed to the disk, so
// the final fsync waits for the last piece only.
constexpr std::size_t CopyPiece = std::size_t(16) << 20;

int copyThroughBuffer(int from, int to)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (int err = writeAll(to, std::string_view(buffer.data(), std::size_t(n))))
            return err;
    }
}

}  // namespace

int copyData(int from, int to)
{
    // copy_file_range within one file system, sendfile across them (no copy through user space);
    // a pair of files that takes neither (a pipe, an old kernel) goes through a buffer.
    off_t written = 0;
    bool sendFile = false;
    for (;;) {
        const ssize_t n = sendFile ? ::sendfile(to, from, nullptr, CopyPiece)
                                   : ::copy_file_range(from, nullptr, to, nullptr, CopyPiece, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written == 0 && !sendFile && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                               errno == EOPNOTSUPP || errno == EBADF)) {
                sendFile = true;
                continue;
            }
            if (written == 0 && sendFile && (errno == EINVAL || errno == ENOSYS))
                return copyThroughBuffer(from, to);
            return errno;
        }
        if (n == 0)
            return 0;
        ::sync_file_range(to, written, n, SYNC_FILE_RANGE_WRITE);
        written += n;
    }
}

int folderEntries(int dirFd, std::vector<std::string>& names)
{
    names.clear();
    FileDescriptor copy(::dup(dirFd));
    if (!copy)
        return errno;
    DIR* dir = ::fdopendir(copy.get());
    if (!dir)
        return errno;
    copy.release();  // the stream owns it now
    // The copy shares the original's position: start from the beginning whatever was read before.
    ::rewinddir(dir);
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..")
            names.emplace_back(n);
        errno = 0;
    }
    const int err = errno;
    ::closedir(dir);
    return err;
}

int folderEntries(const std::string& folder, std::vector<std::string>& names)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return errno;
    const int err = folderEntries(fd.get(), names);
    std::sort(names.begin(), names.end());
    return err;
}

int removeFolderContents(int dirFd, bool openToOwner)
{
    // Walked without recursion and with one folder open at a time, so that a tree of any depth
    // is removed: each folder on the way keeps only its identity and the names still to go, and
    // the walk goes back up through "..", checked against that identity (a folder moved
    // meanwhile ends the walk rather than lead it elsewhere).
    struct Level {
        dev_t device;
        ino_t inode;
        std::string name;  // in the folder above
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    int firstErr = 0;
    const auto note = [&](int err) {
        if (err && !firstErr)
            firstErr = err;
    };
    FileDescriptor current(::dup(dirFd));
    struct stat st;
    if (!current || ::fstat(current.get(), &st) != 0)
        return errno;
    std::vector<Level> way;
    way.push_back({st.st_dev, st.st_ino, {}, {}});
    note(folderEntries(current.get(), way.back().names));
    while (!way.empty()) {
        Level& level = way.back();
        if (level.next == level.names.size()) {
            if (way.size() == 1)
                break;
            const std::string name = std::move(level.name);
            way.pop_back();
            FileDescriptor up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!up || ::fstat(up.get(), &st) != 0 || st.st_dev != way.back().device || st.st_ino != way.back().inode) {
                note(up ? ESTALE : errno);
                break;
            }
            current = std::move(up);
            if (::unlinkat(current.get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                note(errno);
            continue;
        }
        const std::string& n = level.names[level.next++];
        if (::fstatat(current.get(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                note(errno);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(current.get(), n.c_str(), 0) != 0 && errno != ENOENT)
                note(errno);
            continue;
        }
        if (openToOwner && (st.st_mode & S_IRWXU) != S_IRWXU)
            ::fchmodat(current.get(), n.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
        FileDescriptor sub(::openat(current.get(), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub) {
            note(errno);
            if (::unlinkat(current.get(), n.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                note(errno);
            continue;
        }
        Level inner{st.st_dev, st.st_ino, n, {}};
        note(folderEntries(sub.get(), inner.names));
        current = std::move(sub);
        way.push_back(std::move(inner));
    }
    return firstErr;
}

int syncFolder(const std::string& folder)
{
    FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return errno;
    return ::fsync(fd.get()) == 0 ? 0 : errno;
}

} // namespace lv::posix
