#include "platform/ItemStat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <set>

#include "platform/FileDescriptor.h"
#include "platform/MacMetadataStore.h"
#include "platform/PosixIo.h"
#include "platform/ReachablePath.h"

namespace lv {

namespace {

constexpr unsigned Wanted = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_INO | STATX_BTIME;

ItemStat fromStatx(const struct statx& stx)
{
    ItemStat s;
    const mode_t type = stx.stx_mode & S_IFMT;
    s.kind = type == S_IFREG   ? FolderItem::Kind::File
             : type == S_IFDIR ? FolderItem::Kind::Folder
             : type == S_IFLNK ? FolderItem::Kind::Alias
                               : FolderItem::Kind::Other;
    s.length = s.kind == FolderItem::Kind::File ? stx.stx_size : 0;
    s.mode = stx.stx_mode & 0xFFFF;
    if (stx.stx_mask & STATX_MTIME)
        s.modified = std::int64_t(stx.stx_mtime.tv_sec);
    if (stx.stx_mask & STATX_BTIME)
        s.created = std::int64_t(stx.stx_btime.tv_sec);
    s.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    s.inode = stx.stx_ino;
    return s;
}

ItemStat statAt(int dirFd, const char* name, int& error)
{
    struct statx stx;
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name ? 0 : AT_EMPTY_PATH);
    if (::statx(dirFd, name, flags, Wanted, &stx) != 0) {
        error = errno;
        return {};
    }
    error = 0;
    return fromStatx(stx);
}

} // namespace

ItemStat statItem(const std::filesystem::path& path, int* error)
{
    int err = ENOENT;
    ItemStat s = path.empty() ? ItemStat{} : statAt(AT_FDCWD, ReachablePath(path).c_str(), err);
    if (error)
        *error = err;
    return s;
}

namespace {

// The listing of the open folder `fd`, whose items `reach` names for calls by path; with
// `pathLimit`, items whose paths below `folder` are too long for the kernel are refused.
int listOpenFolder(int fd, const std::filesystem::path& folder, const std::filesystem::path& reach, bool pathLimit,
                   std::vector<ListedItem>& items)
{
    items.clear();
    std::vector<std::string> names;
    if (const int err = posix::folderEntries(fd, names))
        return err;
    std::sort(names.begin(), names.end());
    const std::set<std::string_view> listed(names.begin(), names.end());
    const auto isListed = [&](const std::string& n) { return listed.count(n) != 0; };

    items.reserve(names.size());
    for (const std::string& name : names) {
        // A companion that holds a listed partner's metadata is no item of its own.
        if (name.size() > 2 && name.starts_with("._") && isListed(name.substr(2)) &&
            MacMetadataStore::hasCompanion(reach / name.substr(2)))
            continue;
        ListedItem item;
        item.name = name;
        // Items are reached by their paths later on: one whose path is too long cannot be.
        if (pathLimit && folder.native().size() + 1 + name.size() >= PATH_MAX)
            item.error = ENAMETOOLONG;
        else
            item.stat = statAt(fd, name.c_str(), item.error);
        item.companionListed = isListed("._" + name);
        items.push_back(std::move(item));
    }
    return 0;
}

} // namespace

int listFolder(const std::filesystem::path& folder, std::vector<ListedItem>& items)
{
    items.clear();
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return errno;
    return listOpenFolder(fd.get(), folder, folder, true, items);
}

int listFolderOfAnyDepth(const std::filesystem::path& folder, std::vector<ListedItem>& items, ItemStat* self)
{
    items.clear();
    const ReachablePath reach(folder);
    FileDescriptor fd(::open(reach.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return errno;
    if (self) {
        int err = 0;
        *self = statAt(fd.get(), "", err);
    }
    // Its items by name inside it, whatever the depth.
    const std::filesystem::path inside = std::filesystem::path("/proc/self/fd") / std::to_string(fd.get());
    return listOpenFolder(fd.get(), folder, folder.native().size() + 256 < PATH_MAX ? folder : inside, false, items);
}

} // namespace lv
