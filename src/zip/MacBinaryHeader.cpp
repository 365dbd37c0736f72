#include "zip/MacBinary.h"

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "platform/TextEncoding.h"
#include "platform/compression/Crc.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"

namespace lv {

std::string macbinary::cutAtCharBoundary(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    if (!isValidUtf8(text))
        return std::string(text.substr(0, maxBytes));
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the character that would be split.
    while (cut > 0 && (std::uint8_t(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut));
}

namespace {

std::int32_t checkedLength(std::uint64_t length)
{
    if (length > std::uint64_t(zip::MaxOffset))
        throw RuntimeException("The item is too large for a MacBinary header");
    return std::int32_t(length);
}

} // namespace

ZipArchive::MacItemFacts ZipArchive::z_macFacts(const FolderItem& f)
{
    return {f.name(), f.mode(), MacMetadataStore::readFinderInfo(f.path())};
}

MemoryBlock ZipArchive::MakeMacBinaryHeader(const FolderItem& f)
{
    const std::optional<MacItemFacts> facts =
        f.isNull() || !f.exists() ? std::nullopt : std::optional<MacItemFacts>(z_macFacts(f));
    return z_makeMBHdr(checkedLength(f.length()), checkedLength(f.resourceForkLength()), f.name(), f.macType(),
                       f.macCreator(), f.creationDate(), f.modificationDate(), facts ? &*facts : nullptr);
}

MemoryBlock ZipArchive::MakeMacBinaryHeader(const FolderItem& f, std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name)
{
    const std::optional<MacItemFacts> facts =
        f.isNull() || !f.exists() ? std::nullopt : std::optional<MacItemFacts>(z_macFacts(f));
    return z_makeMBHdr(dataLen, rsrcLen, name, f.macType(), f.macCreator(), f.creationDate(), f.modificationDate(),
                       facts ? &*facts : nullptr);
}

MemoryBlock ZipArchive::MakeMacBinaryHeader(std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name,
                                            std::string_view type, std::string_view creator,
                                            std::optional<std::int64_t> created, std::optional<std::int64_t> modified)
{
    return z_makeMBHdr(dataLen, rsrcLen, name, type, creator, created, modified, nullptr);
}

MemoryBlock ZipArchive::z_makeMBHdr(std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name, std::string_view type,
                                    std::string_view creator, std::optional<std::int64_t> created,
                                    std::optional<std::int64_t> modified, const MacItemFacts* f)
{
    using namespace macbinary;
    if (name.empty())
        throw RuntimeException("");

    // The item's Finder information stands in for its catalog information.
    std::optional<FinderInfo> catalog;
    std::string stored(name);
    std::uint8_t script = 0;
    const bool hasItem = f != nullptr;
    if (hasItem) {
        catalog = f->finderInfo;
        if (name == f->name && catalog)
            script = catalog->script();
    }
    stored = cutAtCharBoundary(stored, MaxNameLength);

    MemoryBlock h(HeaderSize, false);
    h.setByteValue(offset::NameLength, std::uint8_t(stored.size()));
    h.setStringValue(offset::Name, stored);
    h.setStringValue(offset::Type, type.substr(0, 4));
    h.setStringValue(offset::Creator, creator.substr(0, 4));
    if (created)
        h.setUInt32Value(offset::Created, toMacDate(*created));
    if (modified)
        h.setUInt32Value(offset::Modified, toMacDate(*modified));
    if (hasItem) {
        // No owner write permission stands for the Finder's locked state.
        if ((f->mode & 0200) == 0)
            h.setByteValue(offset::Protected, 1);
        h.setByteValue(offset::Script, script);
        if (catalog) {
            const std::uint16_t flags = catalog->finderFlags();
            h.setByteValue(offset::FinderFlagsHigh, std::uint8_t(flags >> 8) & HasBeenInitedMask);
            h.setByteValue(offset::FinderFlagsLow, std::uint8_t(flags));
        } else if (f->name.starts_with(".")) {
            h.setByteValue(offset::FinderFlagsHigh, std::uint8_t(FinderFlagInvisible >> 8));
        }
    }
    h.setUInt32Value(offset::DataLength, std::uint32_t(dataLen));
    h.setUInt32Value(offset::RsrcLength, std::uint32_t(rsrcLen));
    h.setUInt32Value(offset::Signature, SignatureValue);
    h.setByteValue(offset::WriterVersion, WriterVersionValue);
    h.setByteValue(offset::ReaderVersion, ReaderVersionValue);
    h.setUInt16Value(offset::Crc, Crc16_MemoryBlock(h, 0, offset::Crc, 0));
    return h;
}

} // namespace lv
