// The cipher stage following a work archive that is still being written: a segment that holds
// bytes not yet final (a large entry's local header, patched at its end) waits, the segments
// after it go on, and the body read back is the archive as it ended.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "engine/CipherStage.h"
#include "engine/CipherSuite.h"
#include "platform/FolderItem.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;

std::string noise(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

void writeAt(const fs::path& file, std::uint64_t at, const std::string& bytes)
{
    FolderItem item(file);
    BinaryStreamPtr out = item.exists() ? item.openAsBinaryFile(true) : item.createBinaryFile(0600);
    ASSERT_TRUE(out);
    out->setPosition(at);
    ASSERT_TRUE(out->write(bytes));
}

TEST(BodyEncryption, SegmentsAfterHeldBytesGoOnAndTheHeldOneTakesTheirFinalValue)
{
    test::TempDir dir;
    const fs::path archive = dir / "Lockvane.zip", body = dir / "Lockvane.cdx", plain = dir / "plain";
    auto cipher = CipherSuite::makeEncryptor("AES", "key");
    ASSERT_TRUE(cipher);
    const std::string bodyHeader = cipher->beginSegments();
    const std::uint64_t segment = cipher->segmentSize();
    // Three segments and a bit; the held bytes straddle the end of the first segment.
    std::string content = noise(3 * segment + 1000, 4);
    const std::uint64_t held = segment - 3;
    content.replace(held, 8, std::string(8, '\0'));
    writeAt(archive, 0, content);

    const std::string outer(142, 'h');
    BinaryStreamPtr sink = FolderItem(body).createBinaryFile(0600);
    ASSERT_TRUE(sink);
    ASSERT_TRUE(sink->write(outer));
    BodyEncryption encryption(std::move(cipher), bodyHeader, FolderItem(archive), *sink, FolderItem(body));
    encryption.setOuterHeader(outer);
    encryption.available(content.size(), std::int64_t(held));
    // The third segment goes on while the first two wait (the fourth is the last: it waits for
    // the end); once it is written, the first two cannot have been read yet.
    for (int i = 0; i < 1000 && encryption.done() < segment; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(encryption.done(), segment);
    const std::string patched = "PATCHED!";
    writeAt(archive, held, patched);
    content.replace(held, 8, patched);
    encryption.complete(content.size());
    std::string error;
    ASSERT_TRUE(encryption.finish({}, error)) << error;
    ASSERT_TRUE(sink->close());

    auto decryptor = CipherSuite::makeDecryptor("AES", "key");
    BinaryStreamPtr out = FolderItem(plain).createBinaryFile(0600);
    ASSERT_TRUE(decryptBody(*decryptor, false, FolderItem(body), outer.size(), FolderItem(body).length(), *out,
                            FolderItem(plain), {}, {}, error))
        << error;
    out.reset();
    EXPECT_TRUE(test::readFile(plain) == content);
}

} // namespace
} // namespace lv
