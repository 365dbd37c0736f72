#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/TextEncoding.h"

namespace lv {
namespace {

const TextEncoding utf8 = TextEncoding::utf8();
const TextEncoding dos = TextEncoding::dosLatinUS();
const TextEncoding ansi = TextEncoding::windowsANSI();
const TextEncoding mac = TextEncoding::macRoman();

struct Conversion {
    const char* what;
    std::string input;
    TextEncoding from;
    TextEncoding to;
    std::string expected;
};

TEST(TextEncoding, ConversionTable)
{
    const std::string eAcute = "\xC3\xA9";
    const std::vector<Conversion> table = {
        {"e-acute to DOS", eAcute, utf8, dos, "\x82"},
        {"e-acute to ANSI", eAcute, utf8, ansi, "\xE9"},
        {"e-acute to Mac", eAcute, utf8, mac, "\x8E"},
        {"e-acute from DOS", "\x82", dos, utf8, eAcute},
        {"e-acute from ANSI", "\xE9", ansi, utf8, eAcute},
        {"e-acute from Mac", "\x8E", mac, utf8, eAcute},
        {"DOS to Mac", "caf\x82", dos, mac, "caf\x8E"},
        {"DOS box drawing", "\xC9\xCD\xBB", dos, utf8, "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"},
        {"box drawing has no ANSI form", "\xC9\xCD\xBB", dos, ansi, "???"},
        {"euro sign", "\xE2\x82\xAC", utf8, ansi, "\x80"},
        {"one ? per missing character", "a\xE2\x82\xAC" "b\xE6\x97\xA5", utf8, dos, "a?b?"},
        {"byte undefined in ANSI", "x\x81y", ansi, utf8, "x?y"},
        {"NUL bytes are kept", std::string("a\0b", 3), utf8, mac, std::string("a\0b", 3)},
        {"empty", "", dos, utf8, ""},
        // Bytes that are no UTF-8 are read as Windows ANSI, one by one; valid sequences stay.
        {"invalid UTF-8", "caf\xE9", utf8, utf8, "caf" + eAcute},
        {"invalid UTF-8 to ANSI", "caf\xE9", utf8, ansi, "caf\xE9"},
        {"invalid mixed with valid", eAcute + "\xE9", utf8, utf8, eAcute + eAcute},
        {"sequence cut off at the end", "\xE2\x82", utf8, utf8, "\xC3\xA2\xE2\x80\x9A"},
        {"invalid and undefined in ANSI", "\x81", utf8, utf8, "?"},
    };
    for (const auto& c : table)
        EXPECT_EQ(convertText(c.input, c.from, c.to), c.expected) << c.what;
}

TEST(TextEncoding, Utf8Validity)
{
    const std::vector<std::pair<std::string, bool>> table = {
        {"", true},
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},  // outside the BMP
        {"\xC0\xAF", false},          // overlong
        {"\xE0\x80\xAF", false},      // overlong, three bytes
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE2\x82", false},          // cut off
        {"\x80", false},              // lone continuation byte
    };
    for (const auto& [text, valid] : table)
        EXPECT_EQ(isValidUtf8(text), valid) << testing::PrintToString(text);
}

TEST(TextEncoding, MacScriptsHaveTheirEncodings)
{
    const struct {
        int script;
        std::string bytes;
        std::string utf8;
    } cases[] = {
        {0, "caf\x8E", "caf\xC3\xA9"},
        {7, "\x94\xEE\xF2\xEE", "\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE"},  // Фото
        {29, "\x87\x88", "\xC3\xA1\xC4\x85"},                             // áą
        {1, "\x93\xFA", "\xE6\x97\xA5"},                                 // 日
    };
    for (const auto& c : cases) {
        const auto encoding = TextEncoding::forMacScript(c.script);
        ASSERT_TRUE(encoding) << c.script;
        EXPECT_EQ(convertText(c.bytes, *encoding, utf8), c.utf8) << c.script;
    }
    EXPECT_FALSE(TextEncoding::forMacScript(26));  // Tibetan: no conversion here
    EXPECT_FALSE(TextEncoding::forMacScript(-1));
}

TEST(TextEncoding, UnknownEncodingIsMisuse)
{
    EXPECT_THROW(convertText("a", TextEncoding{0x1234}, utf8), RuntimeException);
}

} // namespace
} // namespace lv
