#pragma once
// One zip archive file: opened read-only, opened for appending, or created new.
//
// Error model: operations report failure by their result (false, or an Int32 below 1 for the
// operations that add one entry) and leave one fixed English text in `ErrorMessage`. Only Open
// clears the text. Exceptions reach the caller only for misuse (an archive used while closed,
// an index out of range, a resource stream without a MacBinary header); every other exception
// inside an operation becomes a failing result with a text. ThreadEnd always passes through.
//
// Parallel writing (WriteInParallel): while it is on and no progress monitor is set, the adding
// operations on items (AddItemToRoot, AddItemWithRawPath, AddFolderContents) queue the entries
// and return at once; a pool of workers reads and compresses them while later adds go on, and
// they are written in the order they were added, each with the same name, record and extra field
// as one written at once (an entry whose data would not shrink is stored). An add returns the
// index its entry will have; what needs no reading is checked before it returns. A failure found
// later (an item that cannot be opened or read, a file that changed meanwhile, a write error)
// drops that entry and every one queued after it: every later add then fails with it, and Close
// reports it unless an add did. Every other operation first waits for the queued entries.
//
// Limits: offsets and sizes are 32-bit signed and counts 16-bit in the records, so a file, fork,
// entry or archive that would pass 2^31 - 1 bytes, a 65536th entry, and a name, extra field or
// comment over 65535 bytes are refused before anything is written.
//
// Implementations: ZipArchive.cpp (object, open, close, accessors), ZipDirectoryWriter.cpp
// (Flush, z_writeDirectory), ZipArchiveAdd.cpp (adding items, folder walks, size-only runs, Unix
// permissions), MacBinaryHeader.cpp (MakeMacBinaryHeader), ZipExtraField.cpp
// (MakeZipExtraField), ZipEntryWriter.cpp (z_zip, z_zipC, z_zipUC), ZipNames.cpp (raw paths,
// names, lookup); the reading half holds z_readDirectory (ZipDirectoryReader.cpp) and the editing
// operations (ZipArchiveEdit.cpp).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FinderInfo.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"
#include "platform/MemoryBlock.h"
#include "platform/TextEncoding.h"
#include "zip/ZipArchiveData.h"
#include "zip/ZipEntry.h"
#include "zip/ZipExtraField.h"

namespace lv {

class SeqDataInputStream;
class TreeScan;
class WriteBehind;
class ZipProgressNotifier;
struct ItemStat;

// Results of the add operations besides an entry index (>= 1).
namespace zipResult {
inline constexpr std::int32_t NothingAdded = 0;   // read-only, no item, or aborted
inline constexpr std::int32_t WalkFailed = -1;    // a folder walk or size run failed
inline constexpr std::int32_t ReadWriteError = -2;
inline constexpr std::int32_t OpenFailed = -38;
inline constexpr std::int32_t BadName = -50;
} // namespace zipResult

class ZipArchive {
public:
    ZipArchive();
    // Closes the archive; deletes the file when this object created it and Close failed.
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // --- object, open, close (ZipArchive.cpp) ---
    // Names and comments stored in UTF-8.
    bool Open(const FolderItem& file, bool forWrite);
    // Opens `file`, or creates it when `forWrite` and it does not exist (mode 0600).
    // `encoding` nullopt means UTF-8. An archive whose directory could not be written back as it
    // was read (more records than its end record declares, AppleDouble companions folded into
    // their partners) opens read-only even for writing.
    bool Open(const FolderItem& file, bool forWrite, std::optional<TextEncoding> encoding);
    // Writes the directory when needed (never for an archive that is not writable) and closes.
    bool Close();
    // The entry at 1..EntryCount, the same object each time. RuntimeException when closed,
    // OutOfBoundsException outside the range.
    ZipEntryPtr Entry(std::int32_t index) const;
    std::int32_t EntryCount() const;
    std::string ErrorMessage() const { return errmsg; }
    // What the last error concerns and why (the item's path and the system's reason), to explain
    // ErrorMessage to the user; empty when the error names no item.
    std::string ErrorDetail() const { return errmsg == errdetailOf ? errdetail : std::string(); }
    std::string Comment() const { return comment_; }
    void SetProgressMonitor(ZipProgressNotifier* monitor);
    // Told on the adding thread how far the archive's bytes are final: every byte before `end`
    // stays as it is from then on (entries written whole, and at Close the whole file), so that
    // a reader may follow the writer; the one exception is the 8 bytes at `held` (held >= 0):
    // the CRC and compressed size of the local header of a large entry still being written,
    // which go in once its data is complete. Only while entries are added and none has failed
    // (a failed entry's bytes are written over); edits may rewrite bytes.
    using FinalBytesListener = std::function<void(std::int64_t end, std::int64_t held)>;
    static constexpr std::int64_t NothingHeld = -1;
    void SetFinalBytesListener(FinalBytesListener listener) { finalBytesListener = std::move(listener); }
    ZipProgressNotifier* ProgressMonitor() const { return d->monitor; }
    bool IsOpen() const { return d->zipStream != nullptr; }
    bool IsWritable() const { return d->zipStream != nullptr && writeMode; }
    static TextEncoding EncodedAsWinLatin1() { return TextEncoding::windowsANSI(); }
    static TextEncoding EncodedAsUnicode() { return TextEncoding::utf8(); }
    static TextEncoding EncodedAsMacDefault() { return TextEncoding::macRoman(); }
    static TextEncoding EncodedAsDOSLatinUS() { return TextEncoding::dosLatinUS(); }
    static double Version() { return 1.3; }
    // The shared state (for the reading half and tests).
    const ZipArchiveDataPtr& data() const noexcept { return d; }
    std::int64_t dataEnd() const noexcept { return startOfDirInArchive; }

    // --- central directory writer (ZipDirectoryWriter.cpp) ---
    // Writes the directory of a writable archive and keeps it open. RuntimeException when a
    // writable archive was closed.
    bool Flush();

    // --- adding items (ZipArchiveAdd.cpp) ---
    static constexpr std::int32_t MacBinaryNever = 0;
    static constexpr std::int32_t MacBinarySmart = 1;
    static constexpr std::int32_t MacBinaryAlways = 2;
    // A file, or a data-less entry for a folder, at the root; the entry index or a result < 1.
    // An alias stands for the file it points to; anything but a file or folder is refused.
    std::int32_t AddItemToRoot(const FolderItem& f, std::int32_t mbMode);
    std::int32_t AddItemWithRawPath(const FolderItem& f, std::string_view path, std::int32_t mbMode);
    // RuntimeException when `rsrcIn` is given without `mbHdr`.
    std::int32_t AddItemByStreams(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                                  std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                                  ZipExtraFieldPtr extra, std::optional<std::int64_t> date);
    // Every file and subfolder below `folder`, under `path`. Walks regular files and folders only:
    // FIFOs, sockets and devices are skipped, aliases are skipped unless followed (a followed
    // alias to a folder is skipped too), and a folder already on the current path is not entered
    // again. Every subfolder gets its own entry, so empty folders survive. A folder that cannot
    // be listed fails like a file that cannot be opened.
    bool AddFolderContents(const FolderItem& folder, std::string_view path, std::int32_t mbMode, bool followAliases);
    // Bytes AddItemToRoot would store for `f` (0 without an item, -1 when too large); writes
    // nothing.
    std::int32_t CalcItemSize(const FolderItem& f, std::int32_t mbMode);
    // Bytes AddFolderContents would store, or -1 (no folder, or 2^31 or more).
    std::int32_t CalcFolderSize(const FolderItem& folder, bool followAliases, std::int32_t mbMode);
    void SetDefaultOSMadeBy(std::int32_t value) { d->defaultOSMadeBy = value; }
    std::int32_t DefaultOSMadeBy() const { return d->defaultOSMadeBy; }
    void PreserveUnixPermissions(bool flag) { d->addUnixPerm = flag; }
    bool PreservingUnixPermissions() const { return d->addUnixPerm; }
    bool GetUnixPermissions(const FolderItem& f, std::int32_t& mode) const;
    // Parallel writing with `workers` threads and at most `memoryBound` bytes of entry data in
    // memory (see the top of this file); 0 workers writes every entry before its add returns.
    void WriteInParallel(unsigned workers, std::size_t memoryBound);
    // The items added from now on are looked up in `scan` (their status, Mac metadata and folder
    // listings) instead of being looked at again; what it does not hold is looked at as usual.
    void UseScan(std::shared_ptr<const TreeScan> listings) { scan = std::move(listings); }

    // --- MacBinary header (MacBinaryHeader.cpp) ---
    MemoryBlock MakeMacBinaryHeader(const FolderItem& f);
    MemoryBlock MakeMacBinaryHeader(const FolderItem& f, std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name);
    MemoryBlock MakeMacBinaryHeader(std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name, std::string_view type,
                                    std::string_view creator, std::optional<std::int64_t> created,
                                    std::optional<std::int64_t> modified);

    // --- ZPIT extra field (ZipExtraField.cpp) ---
    // The long form with `f`'s own name.
    ZipExtraFieldPtr MakeZipExtraField(const FolderItem& f);
    // The long form with `name`, the short form when `name` is empty; nullptr for a folder
    // without a name.
    ZipExtraFieldPtr MakeZipExtraField(const FolderItem& f, std::string_view name);
    ZipExtraFieldPtr MakeZipExtraField(std::string_view type, std::string_view creator, std::string_view name);
    ZipExtraFieldPtr MakeZipExtraField(std::string_view raw);

    // --- names (ZipNames.cpp) ---
    // `item` relative to the folder `base`, components cleaned and joined by "/"; "" when base
    // is no folder, item is base, or item is not inside base.
    std::string RawPath(const FolderItem& base, const FolderItem& item) const;
    static std::string RawPath(const std::vector<std::string>& parts);
    static bool IsValidName(std::string_view name);
    static std::string CleanName(std::string_view name) { return ZipArchiveData::cleanName(name); }
    // Items meant for one folder of an archive whose names would come back as one on extraction
    // (equal, or equal once cleaned): the error text naming two of them; "" when there are none.
    static std::string NameClash(const std::vector<FolderItem>& siblings);
    // 1-based index of the first entry from `start` with that raw path; 0 when none.
    // RuntimeException when closed, OutOfBoundsException unless 1 <= start <= EntryCount + 1.
    std::int32_t EntryIdxByRawPath(std::string_view path, std::int32_t start) const;
    bool UsesAppleDittoFormat() const { return d->dittoFormat; }
    std::vector<std::string> AllEntriesAsRawPaths() const;
    // The stored name for a raw path: one leading "/" dropped, "" becomes "/", encoded.
    std::string z_pathToEncName(std::string_view path) const;

    // --- editing (reading half, ZipArchiveEdit.cpp) ---
    bool Compact();
    bool RemoveEntry(std::int32_t index);
    ZipEntryPtr ReplaceEntry(std::int32_t index, ZipEntryPtr entry);
    bool SetComment(std::string_view comment);
    void Mark();
    bool Rollback();
    // A second entry on `source`'s local header and data; 0 when refused, among other reasons
    // when `source` has a duplicate already or its flags could not mark one (the reader would
    // refuse the archive).
    std::int32_t AddFakeDuplicate(const ZipEntryPtr& source, std::string_view name, std::optional<std::int64_t> date,
                                  ZipExtraFieldPtr extra);

private:
    friend class WriteBehind;
    // What a MacBinary header takes from an item on disk besides its lengths, names and dates.
    struct MacItemFacts {
        std::string name;
        std::uint32_t mode = 0;
        std::optional<FinderInfo> finderInfo;
    };
    static MacItemFacts z_macFacts(const FolderItem& f);

    void z_setup();
    // Waits until the entries written behind are in the entry list; false when one failed.
    bool z_settle() const;
    void z_noWriteMsg() { errmsg = "Archive was opened read-only"; }
    // Reading half.
    void z_readDirectory();
    // Directory writer.
    bool z_writeDirectory();
    // Adding.
    std::int32_t z_addItem(const FolderItem& f, std::string_view name, std::int32_t mbMode, bool unixPerm, bool sizeOnly);
    // z_addItem for an item already looked at (`stat`); `mayHaveCompanion` when an AppleDouble
    // companion may hold its Mac metadata.
    // `mac`: its Mac metadata when known already.
    std::int32_t z_addListed(const FolderItem& f, const ItemStat& stat, bool mayHaveCompanion, std::string_view name,
                             std::int32_t mbMode, bool unixPerm, bool sizeOnly,
                             const MacMetadataStore::Probe* mac = nullptr);
    // The entry stored as `encName` with its central record as the entry writer makes it before
    // the data (CRC-32, compressed size and offset 0); nullptr with the result code in `failure`
    // when the records cannot describe it.
    ZipEntryPtr z_newEntry(bool deflated, std::int64_t payload, std::optional<std::int64_t> date,
                           const ZipExtraFieldPtr& extra, std::string& encName, std::string& extraBytes,
                           std::int32_t& failure);    std::int64_t z_addFolder(const FolderItem& folder, const std::string& path, bool followAliases, std::int32_t mbMode,
                             bool unixPerm, bool sizeOnly);
    bool z_abort(const FolderItem& f, std::int32_t code, const std::string& msg, bool canSkip);
    // Entry writers: the entry index or a result < 1.
    std::int32_t z_zip(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn, std::int64_t rsrcLen,
                       const std::optional<MemoryBlock>& mbHdr, std::string_view name, std::optional<std::int64_t> date,
                       ZipExtraFieldPtr extra);
    std::int32_t z_zipC(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn, std::int64_t rsrcLen,
                        const std::optional<MemoryBlock>& mbHdr, std::string_view name, std::optional<std::int64_t> date,
                        ZipExtraFieldPtr extra);
    std::int32_t z_zipUC(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn, std::int64_t rsrcLen,
                         const std::optional<MemoryBlock>& mbHdr, std::string_view name, std::optional<std::int64_t> date,
                         ZipExtraFieldPtr extra);
    std::int32_t z_writeEntry(bool deflate, SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                              std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                              std::optional<std::int64_t> date, ZipExtraFieldPtr extra);
    // Bytes the central directory and end record would take with the current entries.
    std::int64_t z_directorySize() const;
    MemoryBlock z_makeMBHdr(std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name, std::string_view type,
                            std::string_view creator, std::optional<std::int64_t> created,
                            std::optional<std::int64_t> modified, const MacItemFacts* f);
    // Editing helpers (ZipArchiveEdit.cpp).
    void z_copy(std::int64_t from, std::int64_t to, std::int64_t length);
    static std::optional<MemoryBlock> z_cloneMB(const MemoryBlock& block);
    // Why `source` can take no duplicate that the reader would accept, or null.
    const char* z_duplicateRefusal(const ZipEntry& source);

    bool entriesRead = false;
    std::string errmsg;
    std::string errdetail;    // belongs to the message errdetailOf
    std::string errdetailOf;
    void z_detail(std::string detail)
    {
        errdetail = std::move(detail);
        errdetailOf = errmsg;
    }
    // The explanation of a failed write of the archive file: the file, the folder it is in (a
    // full one among them) and the system's reason `err` (ZipArchive.cpp).
    std::string z_writeFailureDetail(int err) const;
    std::string comment_;
    bool writeMode = false;
    std::int64_t startOfDirInArchive = 0;
    bool justCreated = false;
    bool marked = false;
    std::int32_t markEntries = 0;
    std::int64_t markDirStart = 0;
    ZipArchiveDataPtr d;
    bool centralDirCorrupted = false;
    // Central records' bytes of the first `dirCacheCount` entries, kept as entries are appended so
    // that the size check of each new entry does not walk the whole list.
    mutable std::int64_t dirCacheBytes = 0;
    mutable std::int32_t dirCacheCount = -1;
    unsigned parallelWorkers = 0;
    std::size_t parallelMemory = 0;
    std::unique_ptr<WriteBehind> writeBehind;
    std::shared_ptr<const TreeScan> scan;
    FinalBytesListener finalBytesListener;
};

} // namespace lv
