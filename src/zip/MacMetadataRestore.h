#pragma once
// Giving an extracted item back what the archive recorded about it: the Mac metadata of a
// MacBinary header (decoded from the entry or converted from its AppleDouble companion) or of a
// ZPIT field, the item's exact Mac name, and its lock. Used by ZipEntry's extraction;
// implementation: MacMetadataRestore.cpp.

#include <string>
#include <string_view>

#include "platform/FinderInfo.h"
#include "platform/FolderItem.h"
#include "platform/MemoryBlock.h"

namespace lv::macrestore {

// Dates, type and creator (files only), Finder flags, script and extended flags from a 128-byte
// header, then the header's name (adjustMacFilename). A date of 0 is no date. Zero values never
// create Finder information on an item that has none. Returns the item under its final name;
// `locked` tells whether the header marks the file locked (byte 81, files only). `known`: the
// Finder information the item has, when the caller knows it (an item just made has none).
FolderItem applyMacBinaryHeader(FolderItem f, const MemoryBlock& header, const std::string& entryName, bool& locked,
                                const FinderInfo* known = nullptr);

// Type and creator of a ZPIT field, then its name when there is one; `known` as above.
FolderItem applyTypeCreatorName(FolderItem f, std::string_view type, std::string_view creator, std::string_view name,
                                const std::string& entryName, const FinderInfo* known = nullptr);

// Renames `f` to the Mac name `name` (script byte `script`: with bit 7 set the name is in the
// encoding of the script code in its low 7 bits, else Roman) when the archive had to store that
// name changed: only while `f` still carries the name the entry gave it, and when `name` cleaned
// of "/" and "\" is that name. A "/" of the Mac name becomes ":", as macOS shows it; the item
// stays in its folder and never replaces another. Returns the item under its final name.
FolderItem adjustMacFilename(FolderItem f, std::string_view name, int script, const std::string& entryName);

// Takes the write permission away from a file; false when that failed.
bool lockFile(FolderItem& f);

} // namespace lv::macrestore
