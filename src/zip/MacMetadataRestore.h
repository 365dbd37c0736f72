#pragma once
// Giving an extracted item back what the archive recorded about it: the Mac metadata of a
// MacBinary header (decoded from the entry or converted from its AppleDouble companion) or of a
// ZPIT field, the item's exact Mac name, and its lock. Used by ZipEntry's extraction;
// implementation: MacMetadataRestore.cpp.
//
// The item is `name` in an open folder, reached through the folder's descriptor at any depth;
// where a function may rename it, `name` is updated to its final name. Functions that store
// something return "" or the reason it could not be stored, for the user.

#include <string>
#include <string_view>

#include "platform/FinderInfo.h"
#include "platform/FolderHandle.h"
#include "platform/MemoryBlock.h"

namespace lv::macrestore {

// Dates, type and creator (files only), Finder flags, script and extended flags from a 128-byte
// header, then the header's name (adjustMacFilename). A date of 0 is no date. Zero values never
// create Finder information on an item that has none. `locked` tells whether the header marks
// the file locked (byte 81, files only). `known`: the Finder information the item has, when the
// caller knows it (an item just made has none).
std::string applyMacBinaryHeader(const FolderHandle& folder, std::string& name, const MemoryBlock& header,
                                 const std::string& entryName, bool& locked, const FinderInfo* known = nullptr);

// Type and creator of a ZPIT field, then its name when there is one; `known` as above.
std::string applyTypeCreatorName(const FolderHandle& folder, std::string& name, std::string_view type,
                                 std::string_view creator, std::string_view macName, const std::string& entryName,
                                 const FinderInfo* known = nullptr);

// Renames the item to the Mac name `macName` (script byte `script`: with bit 7 set the name is
// in the encoding of the script code in its low 7 bits, else Roman) when the archive had to store
// that name changed: only while the item still carries the name the entry gave it, and when
// `macName` cleaned of "/" and "\" is that name. A "/" of the Mac name becomes ":", as macOS
// shows it; the item stays in its folder and never replaces another (nor does a failed rename
// lose anything: the item keeps its name).
void adjustMacFilename(const FolderHandle& folder, std::string& name, std::string_view macName, int script,
                       const std::string& entryName);

// Takes the write permission away from a file.
std::string lockFile(const FolderHandle& folder, const std::string& name);

// The reasons given for what could not be restored.
std::string failedDate(int err);
std::string failedFinderInfo(int err);
std::string failedPermissions(int err);

} // namespace lv::macrestore
