#pragma once
// The state one ZipArchive shares with its entries and extra fields: the entry list, the open
// archive stream, the name encodings, the settings for new entries, the progress monitor and
// the changed flag; and the small operations they all need.
//
// Exactly one per archive, held by shared_ptr by the archive, its entries and its extra fields.
// The entry list holds the entries, so the archive clears it when it closes or dies.
//
// Implementations: ZipArchiveData.cpp (names, encodings, lookup, shifts, catalog references and
// Unix permissions); the reading half holds `isFakeEntry` and `checkDirectory`
// (AppleDoubleFolding.cpp).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BinaryStream.h"
#include "platform/FolderItem.h"
#include "platform/MemoryBlock.h"
#include "platform/TextEncoding.h"

namespace lv {

class ZipEntry;
class ZipProgressNotifier;

// Entries keyed by their stored name without one trailing "/" (bytes), as the directory reader
// builds it for `checkDirectory`; a later entry with the same key replaces an earlier one.
using ZipEntryDictionary = std::map<std::string, std::shared_ptr<ZipEntry>>;

class ZipArchiveData {
public:
    ZipArchiveData();

    // --- state ---
    // The directory on disk no longer matches the entry list. Set by every change; cleared by a
    // successful directory write.
    bool dirty = false;
    // The client's notifier, not owned; nullptr unless set.
    ZipProgressNotifier* monitor = nullptr;
    // 1-based: element 0 is always nullptr, so `entries_1.size() - 1` is the entry count.
    std::vector<std::shared_ptr<ZipEntry>> entries_1{nullptr};
    FolderItem theFile;
    // The open archive file, little-endian; nullptr while closed.
    BinaryStreamPtr zipStream;
    // Bytes per copy step; the archive sets 16384.
    std::int32_t copyChunkSize = 0;
    TextEncoding archiveEncoding = TextEncoding::utf8();
    TextEncoding filenameEncoding = TextEncoding::utf8();
    TextEncoding dosLatinUS = TextEncoding::dosLatinUS();
    // Low byte goes into the host byte of the version made by of each new central record.
    std::int32_t defaultOSMadeBy = 0;
    // Store the Unix permissions of added items.
    bool addUnixPerm = false;
    // An AppleDouble companion was attached when the directory was read.
    bool dittoFormat = false;

    // Number of entries in the list.
    std::int32_t entryCount() const noexcept { return std::int32_t(entries_1.size()) - 1; }

    // --- names and encodings ---
    // Every "/" and then every "\" replaced by "-"; nothing else changes.
    static std::string cleanName(std::string_view name);
    // The name an item called `name` gets back when its entry is extracted: cleaned, and every
    // ":" as "-". Two items of one folder with the same extracted name would overwrite each other.
    static std::string extractedName(std::string_view name);
    // Caller's text (UTF-8 file names) to the bytes stored in this archive. With a UTF-8 archive
    // the bytes pass unchanged, also when they are not valid UTF-8 (no lossy round trip).
    std::string encodeForZip(std::string_view text) const;
    // Stored bytes as text: the bytes unchanged (labelled with the archive encoding).
    std::string decodeFromZip(std::string_view s) const { return std::string(s); }
    // The archive encoding, or `filenameEncoding` (UTF-8) when none is given.
    void setArchiveEncoding(std::optional<TextEncoding> encoding);
    static TextEncoding findFileNameEncoding() { return TextEncoding::utf8(); }

    // Equality of names as the archive compares them: ASCII letters in either case match.
    static bool equalsIgnoringCase(std::string_view a, std::string_view b);
    // Index of the first entry from `start` whose stored name equals `encName` ignoring ASCII
    // letter case; 0 when none. `start` must be at least 1.
    std::int32_t lookup(std::string_view encName, std::int32_t start) const;
    // 1-based position of the last occurrence of `find` in `source` (overlaps count); 0 if none.
    static std::int32_t lastInStr(std::string_view source, std::string_view find);

    // (x >> 16) & 0xFFFF, and (x & 0xFFFF) << 16 as a signed 32-bit value.
    static std::int32_t shiftRight16(std::int32_t x) noexcept { return std::int32_t((std::uint32_t(x) >> 16) & 0xFFFF); }
    static std::int32_t shiftLeft16(std::int32_t x) noexcept { return std::int32_t((std::uint32_t(x) & 0xFFFF) << 16); }

    // --- reading half (AppleDoubleFolding.cpp) ---
    // False when bit 3 of the central flags is clear; else whether the central flags without
    // bit 3 equal `localFlags`. -1 reads the local flags from the archive.
    bool isFakeEntry(const MemoryBlock& centralRecord, std::int32_t localFlags);
    // Folds AppleDouble companions into their data entries after the directory was read.
    void checkDirectory(ZipEntryDictionary& dictionary);

    // --- catalog references and Unix permissions ---
    // A reference to an existing item (the item itself on Linux); nullopt when it does not
    // exist. FSSpec and FSRef are the same handle here.
    std::optional<FolderItem> makeFSRef(const FolderItem& f) const { return FSRefOfFolderItem(f); }
    std::optional<FolderItem> FSRefOfFolderItem(const FolderItem& f) const;
    std::optional<FolderItem> FSSpecOfFolderItem(const FolderItem& f) const { return FSRefOfFolderItem(f); }
    std::optional<FolderItem> FSSpecOfFSRef(const FolderItem& ref) const { return FSRefOfFolderItem(ref); }
    // 0 and the 16-bit mode (type and permission bits) on success; else a negative code and 0.
    std::int32_t getUnixPermissionsFromFile(const FolderItem& ref, std::int32_t& mode) const;
    // Sets the mode to (mode & andMask) | orMask (low 16 bits; only the 07777 bits reach the
    // file system). 0 on success, else a negative code.
    std::int32_t updateUnixPermissions(const FolderItem& ref, std::int32_t andMask, std::int32_t orMask) const;
};

using ZipArchiveDataPtr = std::shared_ptr<ZipArchiveData>;

} // namespace lv
