#pragma once
// What one status call tells of an item, and a folder listing that makes exactly one per item,
// so that a folder walk needs no further call to learn kind, length, dates and mode.
//
// Nothing here follows a symbolic link: a link is reported as an alias.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/FolderItem.h"

namespace lv {

struct ItemStat {
    FolderItem::Kind kind = FolderItem::Kind::Missing;
    std::uint64_t length = 0;  // data fork length of a file, 0 for anything else
    std::uint32_t mode = 0;    // the 16-bit st_mode (type and permission bits)
    std::optional<std::int64_t> modified;
    std::optional<std::int64_t> created;  // where the file system keeps it
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool sameItemAs(const ItemStat& other) const noexcept { return device == other.device && inode == other.inode; }
};

// The item at `path`; Kind::Missing with `error` set to the errno when it cannot be looked at.
ItemStat statItem(const std::filesystem::path& path, int* error = nullptr);

struct ListedItem {
    std::string name;
    ItemStat stat;
    int error = 0;                 // errno when the item could not be looked at (stat is Missing)
    bool companionListed = false;  // the listing holds "._" + name, which may carry its Mac metadata
};

// The items of `folder` sorted by name (bytes), without AppleDouble companions whose partner is
// listed, each looked at once. The folder itself is never reached through a link. 0 or errno.
int listFolder(const std::filesystem::path& folder, std::vector<ListedItem>& items);
// The same for a folder at any depth (no item is refused for the length of its path), and the
// folder's own status in `self` when given.
int listFolderOfAnyDepth(const std::filesystem::path& folder, std::vector<ListedItem>& items, ItemStat* self = nullptr);

} // namespace lv
