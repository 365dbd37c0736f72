#include "platform/LeftoverRecords.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "platform/PosixIo.h"
#include "platform/SpecialFolders.h"
#include "platform/WorkFileNames.h"

namespace lv {

namespace fs = std::filesystem;

namespace {

// Far more than a record's two lines take.
constexpr std::size_t MaxRecordBytes = 64 * 1024;
constexpr int NameAttempts = 100;

bool isHiddenName(const std::string& name) { return name.size() > 1 && name[0] == '.' && name != ".."; }

// The records folder, never through a link, only when it is this user's and closed to others;
// made when `create` and missing.
FileDescriptor openRecordsFolder(const fs::path& folder, bool create, int& err)
{
    if (create) {
        try {
            SpecialFolders::privateFolder(folder);
        } catch (const RuntimeException& e) {
            err = e.errorNumber() ? e.errorNumber() : EPERM;
            return {};
        }
    }
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd) {
        err = errno;
    } else if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        err = EPERM;
        fd.reset();
    }
    return fd;
}

// Removes the folder `name` in `parent` with everything in it, if it is still the one `st` describes.
bool removeFolder(const FileDescriptor& parent, const std::string& name, const struct stat& st)
{
    // A folder its owner may not change must not keep its contents in.
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(parent.get(), name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
    FileDescriptor folder(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat now;
    if (!folder || ::fstat(folder.get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
        return false;
    posix::removeFolderContents(folder.get(), true);
    folder.reset();
    return ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Removes the item `text` records, if it is still that item. True when the record may go: the
// item is gone, now or before, or another item has its name; also for a record that names
// nothing a job makes (cut short by a crash while it was written).
bool removeRecordedItem(const std::string& text)
{
    unsigned long long dev = 0, ino = 0;
    const auto newline = text.find('\n');
    if (newline == std::string::npos || std::sscanf(text.c_str(), "%llu %llu", &dev, &ino) != 2)
        return true;
    const fs::path path = text.substr(newline + 1);
    const std::string name = path.filename().native();
    if (!path.is_absolute() || !isHiddenName(name))
        return true;
    // The folder it lies in, reached as the user would: only the item itself is never a link.
    FileDescriptor parent(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        return false;  // out of reach for now (a drive not mounted): the next time
    struct stat st;
    if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (std::uint64_t(st.st_dev) != dev || std::uint64_t(st.st_ino) != ino)
        return true;
    bool gone = false;
    if (S_ISDIR(st.st_mode))
        gone = removeFolder(parent, name, st);
    else if (S_ISREG(st.st_mode))
        gone = ::unlinkat(parent.get(), name.c_str(), 0) == 0 || errno == ENOENT;
    else
        return true;  // no kind a job records
    if (gone)
        MacMetadataStore::removeAll({parent.get(), name});
    return gone;
}

} // namespace

void LeftoverRecord::drop() noexcept
{
    if (!m_file)
        return;
    // Unlinked while still held: a removal that opened it meanwhile finds it gone.
    ::unlinkat(m_folder.get(), m_name.c_str(), 0);
    m_file.reset();
    m_folder.reset();
}

LeftoverRecords LeftoverRecords::user() { return LeftoverRecords(SpecialFolders::leftoverRecords()); }

LeftoverRecord LeftoverRecords::record(const fs::path& item, int& err) const
{
    err = 0;
    std::error_code ec;
    const fs::path path = fs::absolute(item, ec);
    struct stat st;
    if (ec || !isHiddenName(path.filename().native())) {
        err = EINVAL;
        return {};
    }
    if (::lstat(path.c_str(), &st) != 0) {
        err = errno;
        return {};
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        err = EINVAL;
        return {};
    }
    FileDescriptor folder = openRecordsFolder(m_folder, true, err);
    if (!folder)
        return {};
    const std::string text =
        std::to_string(std::uint64_t(st.st_dev)) + " " + std::to_string(std::uint64_t(st.st_ino)) + "\n" + path.native();
    WorkFileNames names("record-");
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const std::string name = names.next();
        FileDescriptor fd(::openat(folder.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno == EEXIST)
            continue;
        if (!fd) {
            err = errno;
            return {};
        }
        // A removal that came between the two calls took the empty record (or is taking it):
        // another name.
        struct stat own;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &own) != 0 || own.st_nlink == 0)
            continue;
        err = posix::writeAll(fd.get(), text);
        if (!err && ::fsync(fd.get()) != 0)
            err = errno;
        if (err) {
            ::unlinkat(folder.get(), name.c_str(), 0);
            return {};
        }
        ::fsync(folder.get());
        return LeftoverRecord(std::move(folder), std::move(fd), name);
    }
    err = EEXIST;
    return {};
}

void LeftoverRecords::removeUnheld() const
{
    int err = 0;
    const FileDescriptor folder = openRecordsFolder(m_folder, false, err);
    if (!folder)
        return;
    std::vector<std::string> names;
    posix::folderEntries(folder.get(), names);
    for (const std::string& name : names)
        removeRecorded(folder.get(), name);
}

void LeftoverRecords::removeRecorded(int folder, const std::string& name)
{
    FileDescriptor fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    // Held: its job still runs. Unlinked: dropped meanwhile.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &st) != 0 || st.st_nlink == 0)
        return;
    std::string text;
    if (posix::readAt(fd.get(), 0, std::min<std::size_t>(std::size_t(st.st_size), MaxRecordBytes), text) != 0)
        return;
    if (removeRecordedItem(text))
        ::unlinkat(folder, name.c_str(), 0);
}

} // namespace lv
