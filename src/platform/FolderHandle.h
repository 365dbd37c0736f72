#pragma once
// An open folder: the items in it are reached through its descriptor (openat, mkdirat,
// renameat2, fstatat), never by walking a path again, so that many items go into one folder for
// one system call each, and a folder that is renamed or replaced by a link meanwhile is never
// left or followed. No call here follows a symbolic link in the folder.
//
// The descriptor is an O_PATH one: it needs no read permission on the folder. Every call that
// can fail returns 0 or the errno of the failure.

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"

namespace lv {

class FolderHandle {
public:
    FolderHandle() = default;

    // Opens the folder at `path`; its last component is never a link (ENOTDIR, as for anything
    // else that is no folder) unless `followLink`, for a folder the user chose.
    static FolderHandle open(const std::filesystem::path& path, int& err, bool followLink = false);

    bool isOpen() const noexcept { return m_fd.valid(); }
    int descriptor() const noexcept { return m_fd.get(); }
    // The path it was opened at, for records and messages; empty for a folder opened without
    // one (see openFolder).
    const std::filesystem::path& path() const noexcept { return m_path; }
    // The item `name` in it by path; null for a folder without a path.
    FolderItem item(const std::string& name) const { return m_path.empty() ? FolderItem() : FolderItem(m_path / name); }

    // The folder `name` in this one; ENOTDIR when it is a link or no folder. Its path is this
    // one's and `name`, unless `withPath` is false (a walk of any depth, where paths would cost
    // memory by the depth).
    FolderHandle openFolder(const std::string& name, int& err, bool withPath = true) const;
    // What is at `name` (lstat-style); Missing also when it cannot be told, with `err` set.
    FolderItem::Kind kindOf(const std::string& name, struct stat& st, int& err) const;
    int makeFolder(const std::string& name, mode_t mode) const;
    // A new, empty regular file opened for writing; EEXIST when anything is there already.
    FileDescriptor createFile(const std::string& name, mode_t mode, int& err) const;
    // Renames `from` to `to` in this folder, never replacing anything there (EEXIST), also on
    // file systems without RENAME_NOREPLACE.
    int moveNoReplace(const std::string& from, const std::string& to) const;
    // Renames `from` over `to`, replacing a file or link there.
    int moveReplacing(const std::string& from, const std::string& to) const;
    // moveNoReplace for an item and its Mac metadata companion, all or nothing: EEXIST when the
    // new name of either is taken.
    int moveWithCompanion(const std::string& from, const std::string& to) const;
    // moveReplacing for an item and its companion; the replaced item's metadata go with it.
    int replaceWithCompanion(const std::string& from, const std::string& to) const;
    // Deletes a file or link (`folder` false) or an empty folder.
    int remove(const std::string& name, bool folder) const;
    // The modification date of `name` itself (a link's own).
    int setModificationDate(const std::string& name, std::int64_t unixTime) const;
    // The permission bits (07777) of `name`; a link has none of its own (EOPNOTSUPP).
    int setPermissions(const std::string& name, std::uint32_t bits) const;
    // False when no one may write `name` (no write bit at all) or the caller may not.
    bool isWritable(const std::string& name, const struct stat& st) const;

private:
    FolderHandle(FileDescriptor fd, std::filesystem::path path) : m_fd(std::move(fd)), m_path(std::move(path)) {}

    FileDescriptor m_fd;
    std::filesystem::path m_path;
};

} // namespace lv
