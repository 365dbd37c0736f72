// Moving items without ever replacing one, within and across file systems.

#include "platform/FolderItem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/LeftoverRecords.h"
#include "platform/MacMetadataStore.h"
#include "platform/PosixIo.h"

namespace lv {

namespace fs = std::filesystem;

namespace {

bool present(const fs::path& p)
{
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// rename() that fails with EEXIST instead of replacing `to`. 0 or errno.
int renameNoReplace(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without RENAME_NOREPLACE: a hard link cannot replace anything either.
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) == 0)
            return ::unlink(from.c_str()) == 0 ? 0 : errno;
        if (errno == EEXIST || (errno != EPERM && errno != ENOTSUP))
            return errno;
    }
    // Neither is possible (folders, file systems without hard links): check, then rename.
    // rename() never replaces a folder that holds anything, nor a file by a folder.
    if (present(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The extended attributes other than the Mac metadata (which the store carries, with its
// companion fallback). A file system that refuses them loses them, as with cp -a.
void copyOtherAttributes(int from, int to)
{
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return;
    std::string names(std::size_t(size), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got <= 0)
        return;
    names.resize(std::size_t(got));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0 || name == "user.com.apple.ResourceFork" || name == "user.com.apple.FinderInfo")
            continue;
        const ssize_t len = ::fgetxattr(from, name.c_str(), nullptr, 0);
        if (len < 0)
            continue;
        std::string value(std::size_t(len), '\0');
        const ssize_t read = ::fgetxattr(from, name.c_str(), value.data(), value.size());
        if (read >= 0)
            ::fsetxattr(to, name.c_str(), value.data(), std::size_t(read), 0);
    }
}

int setTimes(const fs::path& p, const struct stat& st)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// Told once the file or folder a copy makes exists, before anything goes into it; 0 or the errno
// that stops the copy. (A link or special node holds nothing and is made in one step.)
using Made = std::function<int()>;

std::function<void(const fs::path&)> g_copyHook;

int madeNow(bool& created, const Made& made)
{
    created = true;
    return made ? made() : 0;
}

int copyNode(const fs::path& from, const fs::path& to, bool& created, const Made& made = {});

int copyFile(const fs::path& from, const fs::path& to, bool& created, const Made& made)
{
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat now;
    if (!in)
        return errno;
    if (::fstat(in.get(), &now) != 0)
        return errno;
    if (!S_ISREG(now.st_mode))
        return EAGAIN;  // replaced while we looked
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out)
        return errno;
    if (int err = madeNow(created, made))
        return err;
    if (int err = posix::copyData(in.get(), out.get()))
        return err;
    copyOtherAttributes(in.get(), out.get());
    // Metadata before the permission bits: a read-only file takes no attributes.
    if (!MacMetadataStore::copyAll(from, to))
        return errno;
    if (::fchmod(out.get(), now.st_mode & 07777) != 0)
        return errno;
    const struct timespec times[2] = {now.st_atim, now.st_mtim};
    if (::futimens(out.get(), times) != 0 || ::fsync(out.get()) != 0)
        return errno;
    return out.close();
}

int copyFolder(const fs::path& from, const fs::path& to, const struct stat& st, bool& created, const Made& made)
{
    if (::mkdir(to.c_str(), 0700) != 0)
        return errno;
    std::vector<std::string> names;
    int err = madeNow(created, made);
    if (!err)
        err = posix::folderEntries(from.native(), names);
    if (err)
        return err;
    for (const auto& n : names) {
        // A companion travels with its partner, as metadata.
        if (MacMetadataStore::isCompanionWithPartner(from, n))
            continue;
        bool childCreated = false;
        if ((err = copyNode(from / n, to / n, childCreated)))
            return err;
    }
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    FileDescriptor out(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!in || !out)
        return errno;
    copyOtherAttributes(in.get(), out.get());
    if (!MacMetadataStore::copyAll(from, to))
        return errno;
    if (::fsync(out.get()) != 0 || ::fchmod(out.get(), st.st_mode & 07777) != 0)
        return errno;
    return setTimes(to, st);
}

// Recreates `from` (any kind) at `to`, which must not exist, with its contents, Mac metadata,
// permission bits and dates. `created` tells whether `to` was made (and must be cleaned up);
// `made` is told as soon as a file or folder is.
int copyNode(const fs::path& from, const fs::path& to, bool& created, const Made& made)
{
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, created, made);
    if (S_ISDIR(st.st_mode))
        return copyFolder(from, to, st, created, made);
    if (S_ISLNK(st.st_mode)) {
        std::string target(std::size_t(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0)
            return errno;
        if (std::size_t(n) >= target.size())
            return EAGAIN;  // changed while we looked
        target.resize(std::size_t(n));
        if (::symlink(target.c_str(), to.c_str()) != 0)
            return errno;
        created = true;
        return setTimes(to, st);
    }
    // FIFO, socket or device node: the node itself, as mv does.
    if (::mknod(to.c_str(), st.st_mode & (S_IFMT | 07777), st.st_rdev) != 0)
        return errno;
    created = true;
    if (::chmod(to.c_str(), st.st_mode & 07777) != 0)
        return errno;
    return setTimes(to, st);
}

// A name in `folder` that nothing carries yet, for a copy under construction.
fs::path temporaryName(const fs::path& folder)
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 gen(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    for (;;) {
        std::string name = ".lvmove-";
        for (int i = 0; i < 10; ++i)
            name += Letters[pick(gen)];
        fs::path p = folder / name;
        if (!present(p) && !present(MacMetadataStore::companionPath(p)))
            return p;
    }
}

bool discard(const fs::path& p)
{
    return FolderItem(p).removeRecursively();
}

} // namespace

void FolderItem::setCopyHookForTesting(std::function<void(const fs::path& copy)> hook) { g_copyHook = std::move(hook); }

bool FolderItem::moveTo(const FolderItem& destination, const LeftoverRecords* records)
{
    if (isNull() || destination.isNull())
        return fail(ENOENT);
    const fs::path& from = m_path;
    const fs::path& to = destination.path();
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return fail(errno);
    const fs::path fromCompanion = MacMetadataStore::companionPath(from);
    const fs::path toCompanion = MacMetadataStore::companionPath(to);
    const bool withCompanion = MacMetadataStore::hasCompanion(from);
    if (present(to) || (withCompanion && present(toCompanion)))
        return fail(EEXIST);

    int err = renameNoReplace(from, to);
    if (err == 0) {
        if (withCompanion) {
            if ((err = renameNoReplace(fromCompanion, toCompanion))) {
                renameNoReplace(to, from);  // all or nothing
                return fail(err);
            }
        }
        m_path = to;
        return true;
    }
    if (err != EXDEV)
        return fail(err);

    // Another file system: build a copy under a temporary name beside the destination, put it
    // in place without replacing anything, and only then remove the original.
    const fs::path folder = to.has_parent_path() ? to.parent_path() : fs::path(".");
    const fs::path temp = temporaryName(folder);
    const fs::path tempCompanion = MacMetadataStore::companionPath(temp);
    bool created = false;
    // Recorded from the moment it exists, so that no crash leaves it for good.
    LeftoverRecord record;
    const Made recordIt = [&] {
        int recordErr = 0;
        record = records->record(temp, recordErr);
        return recordErr;
    };
    err = copyNode(from, temp, created, records ? recordIt : Made());
    if (!err && g_copyHook)
        g_copyHook(temp);
    // The companion goes first: until the item follows it, it is no one's and harms nothing.
    const bool tempHasCompanion = !err && present(tempCompanion);
    if (tempHasCompanion)
        err = renameNoReplace(tempCompanion, toCompanion);
    if (!err && (err = renameNoReplace(temp, to)) && tempHasCompanion)
        renameNoReplace(toCompanion, tempCompanion);
    if (err) {
        if (!created || discard(temp))
            record.drop();
        return fail(err);
    }
    record.drop();
    posix::syncFolder(folder);

    FolderItem original(from);
    if (!original.removeRecursively()) {
        // A file that could not be removed leaves no half-done move; a folder that was partly
        // removed keeps its copy, so nothing is lost.
        if (!S_ISDIR(st.st_mode))
            discard(to);
        return fail(original.lastErrorCode());
    }
    m_path = to;
    return true;
}

} // namespace lv
