#include "WriterTestSupport.h"

#include <stdexcept>

#include "platform/Exceptions.h"

namespace lv::test {

std::string StringSource::Read(std::int32_t count)
{
    if (m_fault == Fault::Throw)
        throw std::runtime_error("device vanished");
    if (m_fault == Fault::ThreadEnds)
        throw ThreadEnd{};
    std::string piece = m_bytes.substr(m_pos, std::size_t(count));
    m_pos += piece.size();
    return piece;
}

std::string textBytes(std::size_t size)
{
    static const std::string words = "the quick brown fox jumps over the lazy dog\n";
    std::string out;
    while (out.size() < size)
        out += words;
    out.resize(size);
    return out;
}

::testing::AssertionResult toolInstalled(const std::string& program, const std::string& package)
{
    if (runCommand("command -v " + shellQuote(program) + " >/dev/null") == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << program << " is not installed; ./setup.sh installs it, from the Debian "
                                         << "package " << package;
}

std::filesystem::path makeFixtureTree(const std::filesystem::path& root)
{
    const std::filesystem::path tree = root / "tree";
    writeFile(tree / "empty.txt", "");
    writeFile(tree / "one.bin", randomBytes(1, 7));
    writeFile(tree / "text16383.txt", textBytes(16383));
    writeFile(tree / "rand16384.bin", randomBytes(16384, 2));
    writeFile(tree / "rand16385.bin", randomBytes(16385, 3));
    writeFile(tree / "sub" / "big200000.bin", randomBytes(200000, 4));
    writeFile(tree / "sub" / "Grüße aus Köln.txt", textBytes(5000));
    writeFile(tree / "sub" / "deeper" / "text.txt", textBytes(16385));
    std::filesystem::create_directories(tree / "sub" / "emptydir");
    return tree;
}

std::string fromHex(std::string_view hex)
{
    std::string out;
    int high = -1;
    for (const char c : hex) {
        if (c == ' ')
            continue;
        const int v = (c >= '0' && c <= '9') ? c - '0' : (c | 0x20) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out += char(high * 16 + v);
            high = -1;
        }
    }
    return out;
}

std::uint16_t referenceCrc16(const std::string& bytes)
{
    std::uint16_t crc = 0;
    for (const unsigned char c : bytes) {
        crc ^= std::uint16_t(c << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
    }
    return crc;
}

} // namespace lv::test
