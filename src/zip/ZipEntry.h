#pragma once
// One entry of an open zip archive: its 46-byte central directory record (kept for the entry's
// whole life and written back by the directory writer), its name and comment as stored, its
// central extra field, and its name split into path components.
//
// Entries are made by the directory reader, the entry writers and the duplicate operation, and
// are held by shared_ptr in the archive's entry list (1-based). An entry keeps the archive's
// shared state but not the archive; after the archive is closed it still answers questions
// about its record, but reading its data fails with "Archive is closed".
//
// Implementations: ZipEntry.cpp (constructor, record accessors, comment, attributes and
// switches, local extra field, z_setup), ZipNames.cpp (RawPath, GetPath, z_checkRawPath);
// ZipEntryUnzip.cpp (z_unzip, Verify, Extract into streams), ZipEntryExtract.cpp (Extract to a
// destination, MakeDestination, MakeDestinationChild, DestinationComponents), MacHeaderDecoding.cpp (MacBinary and
// AppleDouble headers), MacMetadataRestore.cpp (Mac metadata and Unix permissions).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderItem.h"
#include "platform/MemoryBlock.h"
#include "zip/ZipArchiveData.h"
#include "zip/ZipExtraField.h"

namespace lv {

class FolderHandle;
class SeqDataOutputStream;
class WorkFileNames;
class ZipArchive;

class ZipEntry {
public:
    // Where a read takes the archive's bytes from: a stream on the archive file (one of the
    // reading thread's own lets several entries be read at once), the file's length, and the
    // step of the copy.
    struct ArchiveReader {
        BinaryStream& stream;
        std::uint64_t length;
        std::int64_t chunkSize;
    };

    // `header` nullopt gives a blank 46-byte record. A null `extra` becomes an empty locked
    // field; a given one is stored as it is (callers lock it first).
    ZipEntry(ZipArchiveDataPtr d, std::optional<MemoryBlock> header, std::string zipEncName,
             ZipExtraFieldPtr extra, std::string zipEncComment);

    // --- record accessors (ZipEntry.cpp) ---
    std::int32_t CompressedSize() const;    // offset 20, signed
    std::int32_t Size() const;              // offset 24, signed
    std::int32_t CompressionMethod() const; // offset 10
    bool IsEncrypted() const;               // flag bit 0
    bool IsDirectory() const noexcept { return isFolder; }
    // Method 0 or 8, not encrypted, not a folder.
    bool CanExtract() const;
    // The record's MS-DOS date as Unix time (local); nullopt when date and time are both 0.
    std::optional<std::int64_t> Time() const;
    std::string Comment() const { return sysEncComment; }
    // Sets the comment (stored through encodeForZip) and marks the archive changed.
    void SetComment(std::string_view comment);
    std::string ErrorMessage() const { return errmsg; }
    // The central extra field itself; RuntimeException when it is not locked.
    ZipExtraFieldPtr ExtraFieldInCentralDir() const;
    // The record itself (not a copy).
    MemoryBlock& z_Header() noexcept { return header; }
    const MemoryBlock& z_Header() const noexcept { return header; }
    // Mac type and creator for a file name. No mapping service exists here: always false.
    bool z_icMapFilename(std::string_view name, std::string& type, std::string& creator) const;

    // --- names (ZipNames.cpp) ---
    // The stored name as text, "/" separators, a folder's trailing "/" kept.
    std::string RawPath() const { return sysEncName; }
    void GetPath(std::vector<std::string>& parts) const { parts = pathComponents(); }
    // The last component; "" for a name without components.
    std::string Name() const;
    // True when `rawPath`, stored the archive's way, is this entry's stored name (ASCII letters
    // in either case match).
    bool SameRawPath(std::string_view rawPath) const;
    std::string z_origEncodedName() const { return zipEncName; }
    std::string z_origEncodedComment() const { return zipEncComment; }
    bool hasDittoName() const noexcept { return z_hasDittoName; }
    // The name split into path components ("/" separators, each ":" as "-", a "." before a "/"
    // dropped). Made from the name on each call: an entry keeps only its name, so that the
    // entries of a deep tree take memory by their names, not by a string per component.
    std::vector<std::string> pathComponents() const;

    // --- attributes and switches (ZipEntry.cpp) ---
    bool IsTextFile() const;
    void SetTextFileFlag(bool flag);
    std::int32_t OSMadeBy() const;
    void SetOSMadeBy(std::int32_t host);
    std::int32_t ExternalFileAttributes() const;
    void SetExternalFileAttributes(std::int32_t value);
    // Locks the field (nullptr: an empty one), makes it the central field, sets the record's
    // extra field length and marks the archive changed.
    void SetExtraFieldInCentralDir(ZipExtraFieldPtr extra);
    // The extra field of the local header, read from the archive and locked; nullptr with
    // "Archive is closed" or the signature text on failure. The stream position is restored.
    ZipExtraFieldPtr ExtraField();
    void EnableMacBinary1Detection(bool flag) noexcept { supportMB1 = flag; }
    void EnableFileLocking(bool flag) noexcept { lockFiles = flag; }
    // x as its unsigned 32-bit value.
    double z_ulongToDouble(std::int32_t x) const { return x < 0 ? double(x) + 2.0 * maxIntPlus1 : double(x); }

    // --- reading half (ZipEntryUnzip.cpp, ZipEntryExtract.cpp, MacHeaderDecoding.cpp, MacMetadataRestore.cpp) ---
    bool Verify();
    bool Extract(const FolderItem& dest);
    bool Extract(const FolderItem& dest, bool decodeMacBinary);
    bool Extract(const FolderItem& dest, bool decodeMacBinary, bool makeExecutable);
    // The same; `extracted` becomes the item the entry was extracted to, under its final name
    // (a Mac name restored), or null on failure. A folder entry's Unix mode is not applied here:
    // see FolderMode.
    bool Extract(const FolderItem& dest, bool decodeMacBinary, bool makeExecutable, FolderItem& extracted);
    // The permission bits of a folder entry that carries a directory mode from a host whose modes
    // count (MS-DOS, Unix, Macintosh); nullopt otherwise. Whoever extracts applies them once the
    // folder's contents are in place.
    std::optional<std::uint32_t> FolderMode() const;
    bool Extract(bool decodeMacBinary, SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut,
                 std::optional<MemoryBlock>& mbHdr);
    bool GetMacBinaryHeader(std::optional<MemoryBlock>& mbHdr);
    // The destination below `base`; a null FolderItem when a step fails.
    FolderItem MakeDestination(const FolderItem& base, bool followAliases);
    // The same; every folder the walk creates on the way is appended to `created` (when given).
    FolderItem MakeDestination(const FolderItem& base, bool followAliases, std::vector<FolderItem>* created);
    FolderItem MakeDestinationChild(const FolderItem& parent, const std::string& name, bool followAliases);
    // The components of the entry's place below the destination folder, as MakeDestination
    // reaches it ("", "." and each ".." with the component before it dropped): empty for the
    // destination folder itself; nullopt when the name has no place there (absolute, a NUL byte,
    // climbing above the folder).
    std::optional<std::vector<std::string>> DestinationComponents() const;
    // True when the name's ".." components climb above the destination folder.
    bool LeadsOutside() const;
    // The MacBinary version of a 128-byte header: 0 (none) to 4 (after III). A header whose
    // forks would not fit in this entry's uncompressed size is none.
    std::int32_t z_MBHdrLevel(const MemoryBlock& header) const;
    bool z_unzipMBHdr(bool isAppleDouble, std::string_view data, std::optional<MemoryBlock>& mbHdr,
                      std::int32_t& rsrcStart);
    void ApplyMacBinaryInformation(const FolderItem& f, const MemoryBlock& header);
    bool ApplyUnixPermissions(const FolderItem& f);
    bool ApplyUnixPermissions(const FolderItem& f, std::int32_t attrs);
    void z_setAppleDoubleEntry(std::shared_ptr<ZipEntry> companion);
    static std::int32_t UTCOffsetInMinutes();

    std::shared_ptr<ZipEntry> appleDoubleCompanion() const { return appleDoubleEntry; }
    bool isAppleDoubleCompanion() const noexcept { return thisIsTheAppleDoubleEntry; }

private:
    friend class ZipArchive;
    friend class ZipArchiveData;
    friend class ExtractionJob;

    // One extraction to the item `name` in the open folder `folder` (ZipEntryExtract.cpp):
    // Extract's work, through the archive's own stream when `reader` is null. With
    // `refuseExisting`, a file entry fails with that text where anything but a folder is already.
    // `created` tells whether this call made the item (it did not exist before); `extractedName`
    // is the item's final name in the folder (a Mac name given back).
    struct ExtractRequest {
        const FolderHandle& folder;
        const std::string& name;
        bool decodeMacBinary;
        bool makeExecutable;
        const ArchiveReader* reader;
        WorkFileNames& workNames;
        const char* refuseExisting;
        // The folder is private to the extraction until it is complete (a staged root): a new
        // file may be written under its own name, without a work file renamed into place.
        bool privateFolder = false;
    };
    bool z_extractAt(const ExtractRequest& request, std::string& extractedName, bool& created);
    // The entry's extra field has Mac type, creator or name to give the item.
    bool z_bringsMacMetadata() const;
    // The entry's date and permissions on the new file open as `fd`, as Extract gives them; 0 or
    // the errno of a failure.
    int z_setDateAndMode(int fd, bool makeExecutable) const;
    // The permission bits of a Unix `mode` for a folder or a file; nullopt when the mode is of
    // another kind of item.
    static std::optional<std::uint32_t> z_permissionBits(std::uint32_t mode, bool forFolder);

    void z_checkRawPath();  // ZipNames.cpp
    // DestinationComponents, telling whether a nullopt comes from a climb above the folder.
    std::optional<std::vector<std::string>> z_destinationComponents(bool& leadsOutside) const;
    // MakeDestinationChild, recording a folder it creates in `created` (ZipEntryExtract.cpp).
    FolderItem z_destinationChild(const FolderItem& parent, const std::string& name, bool followAliases,
                                  std::vector<FolderItem>* created);
    // The host of the record is one whose external attributes hold a Unix mode.
    bool carriesUnixMode() const;
    void z_setup();         // ZipEntry.cpp
    // ZipEntryUnzip.cpp; the first form reads through the archive's own stream.
    bool z_unzip(SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut, bool decodeMacBinary,
                 bool isFolder, std::optional<MemoryBlock>& mbHdr);
    bool z_unzip(const ArchiveReader& reader, SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut,
                 bool decodeMacBinary, bool isFolder, std::optional<MemoryBlock>& mbHdr);

    std::string sysEncComment;
    std::string zipEncName;
    MemoryBlock header;
    ZipExtraFieldPtr extra;
    MemoryBlock zlib_prefix;
    std::string errmsg;
    bool isFolder = false;
    double maxIntPlus1 = 2147483648.0;
    ZipArchiveDataPtr d;
    std::string sysEncName;
    std::string zipEncComment;
    bool supportMB1 = false;
    bool lockFiles = false;
    std::shared_ptr<ZipEntry> appleDoubleEntry;
    bool z_hasDittoName = false;
    bool thisIsTheAppleDoubleEntry = false;
};

using ZipEntryPtr = std::shared_ptr<ZipEntry>;

} // namespace lv
