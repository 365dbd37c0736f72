#pragma once
// A reference to a file or folder by path, with the queries and actions the program uses.
//
// Names and paths are byte strings (std::filesystem::path on Linux holds bytes); nothing here
// converts them. Queries use lstat: a symbolic link (an "alias") is reported as what it is,
// never as what it points to. Actions report their outcome; the errno of the last failure is
// kept in `lastErrorCode()`.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/BinaryStream.h"
#include "platform/FinderInfo.h"

namespace lv {

class FolderItem {
public:
    FolderItem() = default;
    explicit FolderItem(std::filesystem::path path) : m_path(std::move(path)) {}

    const std::filesystem::path& path() const noexcept { return m_path; }
    // The path as the shell writes it (bytes).
    std::string shellPath() const { return m_path.native(); }
    // The last component (bytes); for "/" the empty string.
    std::string name() const;
    // The name as shown to the user: valid UTF-8 (invalid bytes replaced).
    std::string displayName() const;
    bool isNull() const noexcept { return m_path.empty(); }

    FolderItem parent() const;
    // The item `name` inside this folder; `name` must be one component (no "/", not empty).
    FolderItem child(const std::string& name) const;

    enum class Kind { Missing, File, Folder, Alias, Other };  // Other: FIFO, socket, device
    Kind kind() const;
    bool exists() const { return kind() != Kind::Missing; }
    bool isFolder() const { return kind() == Kind::Folder; }
    bool isFile() const { return kind() == Kind::File; }
    bool isAlias() const { return kind() == Kind::Alias; }
    // The target of an alias, resolved once; nullopt when this is no alias or it is broken.
    std::optional<FolderItem> resolveAlias() const;

    // The items of a folder sorted by name (bytes), without AppleDouble companions whose partner
    // exists; empty for a file or on failure.
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
    bool isWritable() const;

    // Finder information (type, creator, flags); a zero value when the file has none.
    FinderInfo finderInfo() const;
    bool setFinderInfo(const FinderInfo& info);
    std::string macType() const { return finderInfo().type(); }
    std::string macCreator() const { return finderInfo().creator(); }

    // Creates the folder (parents must exist); false when it could not be created.
    bool createAsFolder(std::uint32_t mode = 0777);
    // Creates or truncates a regular file for writing and reading, never through a symbolic
    // link; nullptr on failure.
    BinaryStreamPtr createBinaryFile(std::uint32_t mode = 0666);
    // Opens an existing regular file, never through a symbolic link; nullptr on failure.
    BinaryStreamPtr openAsBinaryFile(bool writable) const;

    // Deletes a file, a link or an empty folder, with its Mac metadata companion.
    bool remove();
    // Deletes a folder with all its contents (never following links).
    bool removeRecursively();

    // Moves this item to `destination`, which must not exist: a file that appears there
    // meanwhile is never replaced. Works across file systems (copy, sync, remove the original),
    // carrying data, metadata and modification date. On success this item refers to the
    // destination.
    bool moveTo(const FolderItem& destination);

    int lastErrorCode() const noexcept { return m_lastError; }
    std::string lastErrorText() const;

    bool operator==(const FolderItem& other) const { return m_path == other.m_path; }

private:
    bool fail(int err) const;

    std::filesystem::path m_path;
    mutable int m_lastError = 0;
};

} // namespace lv
