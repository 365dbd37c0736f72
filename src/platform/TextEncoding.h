#pragma once
// The text encodings the program names, and conversion between them (iconv).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lv {

struct TextEncoding {
    // The framework's base codes; `variant` and `format` are not used here.
    static constexpr std::uint32_t MacRoman = 0x0000;
    // Macintosh encodings whose base code is their script code.
    static constexpr std::uint32_t MacJapanese = 1;
    static constexpr std::uint32_t MacChineseTrad = 2;
    static constexpr std::uint32_t MacKorean = 3;
    static constexpr std::uint32_t MacCyrillic = 7;
    static constexpr std::uint32_t MacChineseSimp = 25;
    static constexpr std::uint32_t MacCentralEurRoman = 29;
    static constexpr std::uint32_t DOSLatinUS = 0x0400;   // code page 437
    static constexpr std::uint32_t WindowsANSI = 0x0500;  // code page 1252
    static constexpr std::uint32_t UTF8 = 0x08000100;

    std::uint32_t base = UTF8;

    static TextEncoding utf8() { return {UTF8}; }
    static TextEncoding dosLatinUS() { return {DOSLatinUS}; }
    static TextEncoding windowsANSI() { return {WindowsANSI}; }
    static TextEncoding macRoman() { return {MacRoman}; }

    // The Macintosh text encoding of a script code; nullopt for a script without a conversion
    // here. The CJK scripts convert as the encodings their Mac forms extend.
    static std::optional<TextEncoding> forMacScript(int script);

    // The iconv name of the encoding.
    const char* iconvName() const;
    bool operator==(const TextEncoding&) const = default;
};

// Converts `text` from one encoding to another. Bytes that cannot be converted become "?"
// (never dropped silently, never a failure); in UTF-8 input, each byte that belongs to no
// well-formed sequence is taken as one Windows ANSI character, and the valid sequences around it
// stay as they are. An encoding other than those named here is misuse (RuntimeException).
std::string convertText(std::string_view text, TextEncoding from, TextEncoding to);

// True when `text` is valid UTF-8.
bool isValidUtf8(std::string_view text);

} // namespace lv
