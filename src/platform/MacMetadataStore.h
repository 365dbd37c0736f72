#pragma once
// Where the Mac resource fork and Finder information of a file live on Linux.
//
// First choice: the extended attributes `user.com.apple.ResourceFork` and
// `user.com.apple.FinderInfo` of the file itself. Where the file system refuses them (no user
// extended attributes, or a value too large for it) the metadata goes into an AppleDouble
// version 2 companion `._name` beside the file, as macOS does on foreign volumes. Readers look
// in both places (the attribute first). Writing one store removes the stale copy from the other,
// so the two never disagree. Nothing is ever dropped silently: a write that fits neither store
// fails.
//
// Paths are byte strings. Symbolic links are never followed: the metadata of a link is its own.
// An item is named by its path (of any length) or, at any depth and never through a moved or
// replaced folder, by its name in a folder open as a descriptor (InFolder).

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/FinderInfo.h"

namespace lv {

namespace MacMetadataStore {

// An item named `name` in the folder open as `folder` (an O_PATH descriptor will do; AT_FDCWD
// takes `name` as a path). `self`, when not -1, is the item itself, open (not O_PATH): its
// attributes are read and written through it. The companion lies in the same folder.
struct InFolder {
    int folder = AT_FDCWD;
    std::string name;
    int self = -1;
};

// The resource fork's bytes; nullopt when the file has none (an empty fork counts as none).
std::optional<std::string> readResourceFork(const std::filesystem::path& file);
// The same; `err` is the errno of a fork that is there but cannot be read (0 otherwise).
std::optional<std::string> readResourceFork(const std::filesystem::path& file, int& err);
// Its length in bytes, 0 when there is none.
std::uint64_t resourceForkLength(const std::filesystem::path& file);
// Replaces the resource fork; an empty `bytes` removes it. False (errno set) when neither store
// could take it.
bool writeResourceFork(const std::filesystem::path& file, const std::string& bytes);
std::optional<std::string> readResourceFork(const InFolder& item, int& err);
bool writeResourceFork(const InFolder& item, const std::string& bytes);

// The Finder information; nullopt when the file has none.
std::optional<FinderInfo> readFinderInfo(const std::filesystem::path& file);
// Replaces the Finder information; an all-zero value removes it.
bool writeFinderInfo(const std::filesystem::path& file, const FinderInfo& info);
// The same through a folder; `err` as for readResourceFork.
std::optional<FinderInfo> readFinderInfo(const InFolder& item, int& err);
bool writeFinderInfo(const InFolder& item, const FinderInfo& info);

// What a folder walk needs to know of a file's Mac metadata, with the same answers as
// readFinderInfo and resourceForkLength but fewer calls: one listing of the file's attributes
// (an attribute is read only when it is listed), and the companion is looked at only when
// `mayHaveCompanion` (the folder's listing holds "._" + name, or nothing is known).
struct Probe {
    std::optional<FinderInfo> finderInfo;
    std::uint64_t forkLength = 0;
};
Probe probe(const std::filesystem::path& file, bool mayHaveCompanion);
Probe probe(const InFolder& item, bool mayHaveCompanion);

// Removes both, from both stores, and the companion (used when a file is deleted or moved).
void removeAll(const std::filesystem::path& file);
void removeAll(const InFolder& item);
// Carries the metadata of `from` over to `to` (after a copy across file systems).
bool copyAll(const std::filesystem::path& from, const std::filesystem::path& to);

// The AppleDouble companion of a path: the same folder, "._" + name; empty for a path without
// a name.
std::filesystem::path companionPath(const std::filesystem::path& file);
// True when an AppleDouble file is at the companion path of `file` (a file of that name that is
// no AppleDouble file is somebody else's and never touched).
bool hasCompanion(const std::filesystem::path& file);
bool hasCompanion(const InFolder& item);
// The name of the companion of an item named `name` in its folder.
std::string companionName(const std::string& name);
// True when `name` begins with "._", a partner of the rest of the name exists in `folder` and
// the file is an AppleDouble file: then it holds that partner's metadata and is no item of its
// own. Any other "._" file is the user's and must be listed and archived like any file.
bool isCompanionWithPartner(const std::filesystem::path& folder, const std::string& name);

// Test hook: while set, every extended-attribute call fails as on a file system without user
// attributes, so that everything goes to the companion.
void setExtendedAttributesDisabledForTesting(bool disabled);

} // namespace MacMetadataStore

} // namespace lv
