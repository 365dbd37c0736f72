#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <limits>

#include "platform/Exceptions.h"
#include "platform/MemoryBlock.h"

namespace lv {
namespace {

TEST(MemoryBlock, IntegersFollowTheBlockByteOrder)
{
    MemoryBlock le(8, true);
    le.setUInt16Value(0, 0x1234);
    le.setUInt32Value(2, 0xA1B2C3D4);
    EXPECT_EQ(le.toString().substr(0, 6), std::string("\x34\x12\xD4\xC3\xB2\xA1", 6));

    MemoryBlock be(8, false);
    be.setUInt16Value(0, 0x1234);
    be.setUInt32Value(2, 0xA1B2C3D4);
    EXPECT_EQ(be.toString().substr(0, 6), std::string("\x12\x34\xA1\xB2\xC3\xD4", 6));
    EXPECT_EQ(be.uint32Value(2), 0xA1B2C3D4u);
    EXPECT_EQ(be.int32Value(2), std::int32_t(0xA1B2C3D4));
    EXPECT_EQ(be.int16Value(2), std::int16_t(0xA1B2));

    // The same bytes read in the other order.
    be.setLittleEndian(true);
    EXPECT_EQ(be.uint16Value(0), 0x3412);
    EXPECT_EQ(be.uint32Value(2), 0xD4C3B2A1u);
}

TEST(MemoryBlock, StringsAndPascalStrings)
{
    MemoryBlock block = MemoryBlock::fromString(std::string("\x03" "abcdef", 7));
    EXPECT_EQ(block.size(), 7u);
    EXPECT_EQ(block.pstringValue(0), "abc");
    EXPECT_EQ(block.stringValue(1, 6), "abcdef");
    EXPECT_EQ(block.stringValue(7, 0), "");

    block.setStringValue(4, "XYZ");
    EXPECT_EQ(block.toString(), std::string("\x03" "abcXYZ", 7));

    // A length byte that claims more than the block holds is clipped to the block.
    MemoryBlock clipped = MemoryBlock::fromString(std::string("\xFF" "hi", 3));
    EXPECT_EQ(clipped.pstringValue(0), "hi");
    EXPECT_EQ(clipped.pstringValue(2), "");  // length byte 'i' = 105, nothing after it
}

TEST(MemoryBlock, EveryAccessPastTheEndThrows)
{
    MemoryBlock block(4);
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"byteValue", [&] { (void)block.byteValue(4); }},
        {"setByteValue", [&] { block.setByteValue(4, 1); }},
        {"uint16Value", [&] { (void)block.uint16Value(3); }},
        {"int16Value", [&] { (void)block.int16Value(3); }},
        {"setUInt16Value", [&] { block.setUInt16Value(3, 1); }},
        {"uint32Value", [&] { (void)block.uint32Value(1); }},
        {"int32Value", [&] { (void)block.int32Value(1); }},
        {"setUInt32Value", [&] { block.setUInt32Value(1, 1); }},
        {"stringValue", [&] { (void)block.stringValue(2, 3); }},
        {"stringValue wrapping", [&] { (void)block.stringValue(2, huge); }},
        {"stringValue offset", [&] { (void)block.stringValue(huge, 2); }},
        {"setStringValue", [&] { block.setStringValue(2, "abc"); }},
        {"pstringValue", [&] { (void)block.pstringValue(4); }},
        {"empty block", [] { (void)MemoryBlock().byteValue(0); }},
    };
    for (const auto& [name, access] : cases)
        EXPECT_THROW(access(), OutOfBoundsException) << name;
    EXPECT_EQ(block.toString(), std::string(4, '\0'));  // nothing was written
}

TEST(MemoryBlock, UnallocatableSizeRaisesOutOfMemory)
{
    EXPECT_THROW(MemoryBlock(std::numeric_limits<std::size_t>::max()), OutOfMemoryException);
}

} // namespace
} // namespace lv
