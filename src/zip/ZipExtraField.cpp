#include "zip/ZipExtraField.h"

#include "platform/ByteOrder.h"
#include "platform/MemoryBlock.h"
#include "platform/TextEncoding.h"
#include "platform/Thread.h"
#include "zip/MacBinary.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveData.h"

namespace lv {

namespace {

std::uint16_t le16(const std::string& s, std::size_t at)
{
    return bytes::loadLE16(std::span<const std::uint8_t, 2>(reinterpret_cast<const std::uint8_t*>(s.data()) + at, 2));
}
std::uint32_t le32(const std::string& s, std::size_t at)
{
    return bytes::loadLE32(std::span<const std::uint8_t, 4>(reinterpret_cast<const std::uint8_t*>(s.data()) + at, 4));
}
std::uint32_t be32(const std::string& s, std::size_t at)
{
    return bytes::loadBE32(std::span<const std::uint8_t, 4>(reinterpret_cast<const std::uint8_t*>(s.data()) + at, 4));
}

// Four bytes of a type or creator code; missing bytes are 0.
std::string fourBytes(std::string_view code)
{
    std::string out(code.substr(0, 4));
    out.resize(4, '\0');
    return out;
}

} // namespace

ZipExtraField::ZipExtraField(std::shared_ptr<ZipArchiveData> d, std::string_view raw)
    : m_d(std::move(d)), m_data(raw)
{
    const std::size_t n = m_data.size();
    std::size_t pos = 0;
    while (pos + 4 < n) {
        const std::size_t size = le16(m_data, pos + 2);
        if (size == 0 || pos + 4 + size > n)
            break;
        const std::uint16_t id = le16(m_data, pos);
        if (size >= 12 && be32(m_data, pos + 4) == zpit::Signature && (id == zpit::LongFormId || id == zpit::ShortFormId))
            m_zpitRec = std::int64_t(pos);
        pos += 4 + size;
        Thread::yieldPoint();
    }
    if (m_zpitRec < 0 && n == unixExtra::Type1Size && le32(m_data, 0) == 0x00085855) {
        m_hasUXonly = true;
        m_accTime = std::int32_t(le32(m_data, 4));
        m_modTime = std::int32_t(le32(m_data, 8));
    }
}

bool ZipExtraField::GetTypeCreatorName(std::string& type, std::string& creator, std::string& name) const
{
    if (m_zpitRec < 0)
        return false;
    const std::size_t rec = std::size_t(m_zpitRec);
    const std::uint16_t id = le16(m_data, rec);
    const std::size_t size = le16(m_data, rec + 2);
    const std::size_t blockEnd = rec + 4 + size;  // within the field: the scan checked it
    std::size_t k = 0;
    std::string found;
    if (id == zpit::LongFormId && size >= 13) {
        const std::size_t len = std::uint8_t(m_data[rec + 8]);
        k = len + 1;
        // The name length must leave room for itself, type and creator inside the block.
        if (rec + 8 + k + 8 > blockEnd)
            return false;
        found = m_data.substr(rec + 9, len);
    } else if (!(id == zpit::ShortFormId && size >= 12)) {
        return false;
    }
    type = m_data.substr(rec + 8 + k, 4);
    creator = m_data.substr(rec + 12 + k, 4);
    name = m_d ? m_d->decodeFromZip(found) : found;
    return true;
}

bool ZipExtraField::GetUnixTimes(std::int32_t& accTime, std::int32_t& modTime) const
{
    if (m_accTime == 0)
        return false;
    accTime = m_accTime;
    modTime = m_modTime;
    return true;
}

ZipExtraFieldPtr ZipArchive::MakeZipExtraField(const FolderItem& f)
{
    return MakeZipExtraField(f, f.name());
}

ZipExtraFieldPtr ZipArchive::MakeZipExtraField(const FolderItem& f, std::string_view name)
{
    if (name.empty() && f.isFolder())
        return nullptr;
    return MakeZipExtraField(f.macType(), f.macCreator(), name);
}

ZipExtraFieldPtr ZipArchive::MakeZipExtraField(std::string_view type, std::string_view creator, std::string_view name)
{
    std::string stored;
    if (!name.empty()) {
        // Unicode names go into the archive's name encoding; other bytes are kept as they are.
        stored = isValidUtf8(name) ? d->encodeForZip(name) : std::string(name);
        stored = macbinary::cutAtCharBoundary(stored, zpit::MaxNameLength);
    }
    const std::size_t n = stored.empty() ? 0 : stored.size() + 1;
    MemoryBlock block(zpit::ShortFormSize + n, true);
    block.setUInt16Value(0, n ? zpit::LongFormId : zpit::ShortFormId);
    block.setUInt16Value(2, std::uint16_t(block.size() - 4));
    block.setLittleEndian(false);
    block.setUInt32Value(4, zpit::Signature);
    if (n) {
        block.setByteValue(8, std::uint8_t(stored.size()));
        block.setStringValue(9, stored);
    }
    block.setStringValue(8 + n, fourBytes(type));
    block.setStringValue(12 + n, fourBytes(creator));
    return MakeZipExtraField(block.toString());
}

ZipExtraFieldPtr ZipArchive::MakeZipExtraField(std::string_view raw)
{
    return std::make_shared<ZipExtraField>(d, raw);
}

} // namespace lv
