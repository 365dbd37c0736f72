#pragma once
// The 32-byte Finder information of a file or folder, in the big-endian macOS layout
// (FileInfo then ExtendedFileInfo) that `com.apple.FinderInfo` and AppleDouble entry 9 hold.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lv {

class FinderInfo {
public:
    static constexpr std::size_t Size = 32;

    FinderInfo() { m_bytes.fill(0); }
    // The first 32 bytes of `bytes` (missing bytes are 0).
    static FinderInfo fromBytes(std::string_view bytes);
    std::string toBytes() const { return std::string(m_bytes.begin(), m_bytes.end()); }

    // Type and creator, four bytes each ("" is taken as four zero bytes).
    std::string type() const { return std::string(m_bytes.begin(), m_bytes.begin() + 4); }
    std::string creator() const { return std::string(m_bytes.begin() + 4, m_bytes.begin() + 8); }
    void setType(std::string_view fourBytes) { put4(0, fourBytes); }
    void setCreator(std::string_view fourBytes) { put4(4, fourBytes); }

    std::uint16_t finderFlags() const { return std::uint16_t((m_bytes[8] << 8) | m_bytes[9]); }
    void setFinderFlags(std::uint16_t flags) { m_bytes[8] = std::uint8_t(flags >> 8); m_bytes[9] = std::uint8_t(flags); }
    // Extended Finder information: the script code of the name and the extended flags.
    std::uint8_t script() const { return m_bytes[24]; }
    void setScript(std::uint8_t v) { m_bytes[24] = v; }
    std::uint8_t extendedFlags() const { return m_bytes[25]; }
    void setExtendedFlags(std::uint8_t v) { m_bytes[25] = v; }

    bool isZero() const;
    bool operator==(const FinderInfo&) const = default;

private:
    void put4(std::size_t at, std::string_view v);
    std::array<std::uint8_t, Size> m_bytes;
};

} // namespace lv
