#include "platform/FolderHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/MacMetadataStore.h"

namespace lv {

namespace {

constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int errnoOr(int result) { return result == 0 ? 0 : errno; }

} // namespace

FolderHandle FolderHandle::open(const std::filesystem::path& path, int& err, bool followLink)
{
    FileDescriptor fd(::open(path.c_str(), followLink ? FolderFlags & ~O_NOFOLLOW : FolderFlags));
    err = fd ? 0 : errno;
    return fd ? FolderHandle(std::move(fd), path) : FolderHandle();
}

FolderHandle FolderHandle::openFolder(const std::string& name, int& err, bool withPath) const
{
    FileDescriptor fd(::openat(m_fd.get(), name.c_str(), FolderFlags));
    err = fd ? 0 : errno;
    if (!fd)
        return {};
    return FolderHandle(std::move(fd), withPath && !m_path.empty() ? m_path / name : std::filesystem::path());
}

FolderItem::Kind FolderHandle::kindOf(const std::string& name, struct stat& st, int& err) const
{
    err = 0;
    if (::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        err = errno;
        return FolderItem::Kind::Missing;
    }
    if (S_ISREG(st.st_mode))
        return FolderItem::Kind::File;
    if (S_ISDIR(st.st_mode))
        return FolderItem::Kind::Folder;
    if (S_ISLNK(st.st_mode))
        return FolderItem::Kind::Alias;
    return FolderItem::Kind::Other;
}

int FolderHandle::makeFolder(const std::string& name, mode_t mode) const
{
    return errnoOr(::mkdirat(m_fd.get(), name.c_str(), mode));
}

FileDescriptor FolderHandle::createFile(const std::string& name, mode_t mode, int& err) const
{
    FileDescriptor fd(::openat(m_fd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    err = fd ? 0 : errno;
    return fd;
}

int FolderHandle::moveNoReplace(const std::string& from, const std::string& to) const
{
    const int dir = m_fd.get();
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without RENAME_NOREPLACE: a hard link cannot replace anything either.
    struct stat st;
    if (::fstatat(dir, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0)
            return errnoOr(::unlinkat(dir, from.c_str(), 0));
        if (errno == EEXIST || (errno != EPERM && errno != ENOTSUP))
            return errno;
    }
    // Neither is possible: check, then rename.
    if (::fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return errnoOr(::renameat(dir, from.c_str(), dir, to.c_str()));
}

int FolderHandle::moveReplacing(const std::string& from, const std::string& to) const
{
    return errnoOr(::renameat(m_fd.get(), from.c_str(), m_fd.get(), to.c_str()));
}

int FolderHandle::moveWithCompanion(const std::string& from, const std::string& to) const
{
    const bool withCompanion = MacMetadataStore::hasCompanion({m_fd.get(), from});
    const std::string fromCompanion = MacMetadataStore::companionName(from);
    const std::string toCompanion = MacMetadataStore::companionName(to);
    struct stat st;
    if (withCompanion && ::fstatat(m_fd.get(), toCompanion.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (const int err = moveNoReplace(from, to))
        return err;
    if (!withCompanion)
        return 0;
    const int err = moveNoReplace(fromCompanion, toCompanion);
    if (err)
        moveNoReplace(to, from);  // all or nothing
    return err;
}

int FolderHandle::replaceWithCompanion(const std::string& from, const std::string& to) const
{
    MacMetadataStore::removeAll({m_fd.get(), to});
    if (MacMetadataStore::hasCompanion({m_fd.get(), from}))
        if (const int err = moveReplacing(MacMetadataStore::companionName(from), MacMetadataStore::companionName(to)))
            return err;
    return moveReplacing(from, to);
}

int FolderHandle::remove(const std::string& name, bool folder) const
{
    return errnoOr(::unlinkat(m_fd.get(), name.c_str(), folder ? AT_REMOVEDIR : 0));
}

int FolderHandle::setModificationDate(const std::string& name, std::int64_t unixTime) const
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(unixTime), 0}};
    return errnoOr(::utimensat(m_fd.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int FolderHandle::setPermissions(const std::string& name, std::uint32_t bits) const
{
    return errnoOr(::fchmodat(m_fd.get(), name.c_str(), mode_t(bits & 07777), AT_SYMLINK_NOFOLLOW));
}

bool FolderHandle::isWritable(const std::string& name, const struct stat& st) const
{
    return (st.st_mode & 0222) != 0 &&
        ::faccessat(m_fd.get(), name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace lv
