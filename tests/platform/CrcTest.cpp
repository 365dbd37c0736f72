#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/Exceptions.h"
#include "platform/compression/Crc.h"
#include "support/TempDir.h"

namespace lv {
namespace {

TEST(Crc32, CheckValueAndContinuation)
{
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
    const std::string data = test::randomBytes(5000);
    const std::string_view all(data);
    for (std::size_t split : {std::size_t(0), std::size_t(1), std::size_t(2500), data.size()})
        EXPECT_EQ(Crc32(all.substr(split), Crc32(all.substr(0, split))), Crc32(data)) << "split at " << split;
}

TEST(Crc16, XmodemCheckValueRangesAndContinuation)
{
    const MemoryBlock block = MemoryBlock::fromString("xx123456789yy");
    EXPECT_EQ(Crc16_MemoryBlock(block, 2, 9), 0x31C3);
    EXPECT_EQ(Crc16_MemoryBlock(block, 6, 5, Crc16_MemoryBlock(block, 2, 4)), 0x31C3);
    EXPECT_EQ(Crc16_MemoryBlock(block, 13, 0), 0);
    EXPECT_EQ(Crc16_MemoryBlock(block, 0, 0, 0x1234), 0x1234);
}

TEST(Crc16, RefusesRangesOutsideTheBlock)
{
    const MemoryBlock block(128);
    struct Case {
        std::size_t offset, length;
    };
    for (Case c : {Case{0, 129}, Case{124, 5}, Case{129, 0}, Case{1, std::numeric_limits<std::size_t>::max()}})
        EXPECT_THROW(Crc16_MemoryBlock(block, c.offset, c.length), OutOfBoundsException) << c.offset << "+" << c.length;
    EXPECT_NO_THROW(Crc16_MemoryBlock(block, 0, 128));
}

} // namespace
} // namespace lv
