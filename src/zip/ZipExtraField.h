#pragma once
// The parsed extra-field area of one entry (local or central): the raw bytes unchanged, the last
// ZipIt Macintosh ("ZPIT") block in it, and whether the whole field is exactly one Info-ZIP Unix
// type 1 block. A field can be locked; an entry hands out its central field only when locked.
//
// Implementation: ZipExtraField.cpp.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lv {

class ZipArchiveData;

namespace zpit {
inline constexpr std::uint16_t LongFormId = 0x2605;   // with the file name
inline constexpr std::uint16_t ShortFormId = 0x2705;  // type and creator only
inline constexpr std::uint32_t Signature = 0x5A504954;  // "ZPIT", big-endian
inline constexpr std::size_t ShortFormSize = 16;
inline constexpr std::size_t MaxNameLength = 255;
} // namespace zpit

namespace unixExtra {
inline constexpr std::uint16_t Type1Id = 0x5855;  // "UX"
inline constexpr std::size_t Type1Size = 12;
} // namespace unixExtra

class ZipExtraField {
public:
    // Keeps a copy of `raw` and finds its blocks. Never reads outside the field.
    ZipExtraField(std::shared_ptr<ZipArchiveData> d, std::string_view raw);

    // The raw bytes as they go into a zip header ("" when none).
    const std::string& AsData() const noexcept { return m_data; }
    bool IsLocked() const noexcept { return m_locked; }
    void Lock() noexcept { m_locked = true; }

    // Type, creator (4 raw bytes each) and name (empty for the short form) of the ZPIT block.
    // False, arguments untouched, when there is none or it is too short for what it claims
    // (a name running past the block is refused).
    bool GetTypeCreatorName(std::string& type, std::string& creator, std::string& name) const;
    // The ZPIT block found is the short form (type and creator only), which this library writes
    // for every file it does not wrap as MacBinary (MacHeaderDecoding.cpp).
    bool HasZpitShortForm() const;
    bool IsUnixType1Only() const noexcept { return m_hasUXonly; }
    // The times of the Unix type 1 block; false when the access time is 0.
    bool GetUnixTimes(std::int32_t& accTime, std::int32_t& modTime) const;

private:
    std::shared_ptr<ZipArchiveData> m_d;
    std::string m_data;
    bool m_locked = false;
    std::int64_t m_zpitRec = -1;
    bool m_hasUXonly = false;
    std::int32_t m_accTime = 0;
    std::int32_t m_modTime = 0;
};

using ZipExtraFieldPtr = std::shared_ptr<ZipExtraField>;

} // namespace lv
