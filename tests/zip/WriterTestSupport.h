#pragma once
// Helpers shared by the tests of the writing half of the zip library.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "zip/SeqStreams.h"

namespace lv::test {

// The path of the lvzip test driver.
inline std::string lvzipPath()
{
#ifdef LVZIP_PATH
    return LVZIP_PATH;
#else
    return std::string(LOCKVANE_BINARY_DIR) + "/tests/tools/lvzip";
#endif
}

// Runs `command` through the shell with its standard error merged into the output.
inline int run(const std::string& command, std::string* output = nullptr)
{
    return runCommand(command + " 2>&1", output);
}

// Whether `program` is on the PATH. The tests that check archives against other tools fail
// without it rather than drop their cases: ./setup.sh installs each, from the Debian `package`.
::testing::AssertionResult toolInstalled(const std::string& program, const std::string& package);

// The fixture tree of the interoperability tests, below `root` (which is created):
//   tree/empty.txt (0 bytes), one.bin (1), text16383.txt, rand16384.bin, rand16385.bin,
//   sub/big200000.bin, sub/Grüße aus Köln.txt (non-ASCII name), sub/deeper/text.txt,
//   sub/emptydir/ (an empty folder).
// Returns the path of "tree".
std::filesystem::path makeFixtureTree(const std::filesystem::path& root);

// Text bytes of a given length (lines of words).
std::string textBytes(std::size_t size);

// Bytes from a hexadecimal text (spaces ignored).
std::string fromHex(std::string_view hex);

// A source that gives the bytes it was made with, or fails as it is told.
class StringSource : public SeqDataInputStream {
public:
    enum class Fault { None, Throw, ThreadEnds };
    explicit StringSource(std::string bytes, Fault fault = Fault::None) : m_bytes(std::move(bytes)), m_fault(fault) {}
    std::string Read(std::int32_t count) override;
    bool Eof() const override { return m_pos >= m_bytes.size(); }
    bool HadError() const override { return false; }
    bool Open() override { return true; }
    void Close() override {}
    void GetErrorDescription(std::int32_t& code, std::string& message) const override { code = 0, message.clear(); }
    bool Skip(std::int32_t) override { return false; }
    void ClearError() override {}

private:
    std::string m_bytes;
    Fault m_fault;
    std::size_t m_pos = 0;
};

// CRC-16/XMODEM computed bit by bit, independent of the library's table.
std::uint16_t referenceCrc16(const std::string& bytes);

} // namespace lv::test
