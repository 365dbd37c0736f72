#pragma once
// A reference to a file or folder by path, with the queries and actions the program uses.
//
// Names and paths are byte strings (std::filesystem::path on Linux holds bytes); nothing here
// converts them. Queries use lstat: a symbolic link (an "alias") is reported as what it is,
// never as what it points to. Actions report their outcome; the errno of the last failure is
// kept in `lastErrorCode()`.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/BinaryStream.h"
#include "platform/FinderInfo.h"

namespace lv {

class LeftoverRecords;

class FolderItem {
public:
    FolderItem() = default;
    // Trailing "/" are dropped, so "a/b/" names the item "b"; nothing else is normalised.
    explicit FolderItem(std::filesystem::path path);

    const std::filesystem::path& path() const noexcept { return m_path; }
    // The path as the shell writes it (bytes).
    std::string shellPath() const { return m_path.native(); }
    // The last component (bytes); for "/" the empty string.
    std::string name() const;
    // The name as shown to the user: valid UTF-8 (invalid bytes replaced).
    std::string displayName() const;
    // The whole path as shown to the user, likewise valid UTF-8.
    std::string displayPath() const;
    bool isNull() const noexcept { return m_path.empty(); }

    FolderItem parent() const;
    // The item `name` inside this folder; `name` must be one component (no "/" or NUL, not
    // empty, ".", ".."): RuntimeException otherwise, NilObjectException for a null item.
    FolderItem child(const std::string& name) const;

    enum class Kind { Missing, File, Folder, Alias, Other };  // Other: FIFO, socket, device
    Kind kind() const;
    bool exists() const { return kind() != Kind::Missing; }
    bool isFolder() const { return kind() == Kind::Folder; }
    bool isFile() const { return kind() == Kind::File; }
    bool isAlias() const { return kind() == Kind::Alias; }
    // The item an alias finally leads to (every link on the way resolved, an absolute path);
    // nullopt when this is no alias or it is broken.
    std::optional<FolderItem> resolveAlias() const;

    // The items of a folder sorted by name (bytes), without AppleDouble companions whose partner
    // exists; empty for a file, an alias (never followed) or on failure.
    std::vector<FolderItem> children() const;

    // Data fork length in bytes (0 for a folder or a missing item).
    std::uint64_t length() const;
    std::uint64_t resourceForkLength() const;

    // Dates as Unix time; nullopt where the file system gives none.
    std::optional<std::int64_t> modificationDate() const;
    std::optional<std::int64_t> creationDate() const;
    bool setModificationDate(std::int64_t unixTime);

    // The 16-bit st_mode (type and permission bits); 0 when missing.
    std::uint32_t mode() const;
    bool setPermissions(std::uint32_t permissionBits);  // only the 07777 bits are used
    // False for a missing item, one the caller may not write, and a locked one: no write
    // permission bit set for anyone (which holds even for root).
    bool isWritable() const;

    // Finder information (type, creator, flags); a zero value when the file has none.
    FinderInfo finderInfo() const;
    bool setFinderInfo(const FinderInfo& info);
    std::string macType() const { return finderInfo().type(); }
    std::string macCreator() const { return finderInfo().creator(); }

    // Creates the folder (parents must exist); false when it could not be created.
    bool createAsFolder(std::uint32_t mode = 0777);
    // Creates or replaces a regular file for writing and reading, never through a symbolic
    // link; a replaced file starts empty and without Mac metadata. nullptr on failure.
    BinaryStreamPtr createBinaryFile(std::uint32_t mode = 0666);
    // Opens an existing regular file, never through a symbolic link; nullptr on failure.
    BinaryStreamPtr openAsBinaryFile(bool writable) const;

    // Deletes a file, a link or an empty folder, with its Mac metadata companion.
    bool remove();
    // Deletes a folder with all its contents (never following links); for anything else the
    // same as remove(). Goes on past items it cannot delete and reports the first failure.
    bool removeRecursively();

    // Moves this item to `destination`, which must not exist: a file that appears there
    // meanwhile is never replaced (EEXIST). Its Mac metadata companion moves with it. Across
    // file systems the item (a folder with its whole tree) is copied under a temporary name
    // beside the destination, synced, put in place without replacing anything, and only then
    // is the original removed; data, Mac metadata, other user attributes, permission bits and
    // dates are carried. On success this item refers to the destination. When the original
    // cannot be removed afterwards the result is false: a file's copy is withdrawn again, a
    // folder's copy stays (part of the original may be gone already), so nothing is lost.
    // With `records`, the copy of a file or folder under construction is recorded there while it
    // exists, so that a crash does not leave it for good (LeftoverRecords); a record that cannot
    // be written stops the move with its errno.
    [[nodiscard]] bool moveTo(const FolderItem& destination, const LeftoverRecords* records = nullptr);
    // Test hook: called with the copy's path once a move across file systems has made it whole,
    // just before it is put in place.
    static void setCopyHookForTesting(std::function<void(const std::filesystem::path& copy)> hook);

    int lastErrorCode() const noexcept { return m_lastError; }
    std::string lastErrorText() const;

    bool operator==(const FolderItem& other) const { return m_path == other.m_path; }

private:
    bool fail(int err) const;

    std::filesystem::path m_path;
    mutable int m_lastError = 0;
};

} // namespace lv
