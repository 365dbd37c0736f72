#include "platform/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include <iconv.h>

#include "platform/Exceptions.h"

namespace lv {

const char* TextEncoding::iconvName() const
{
    switch (base) {
    case UTF8: return "UTF-8";
    case DOSLatinUS: return "CP437";
    case WindowsANSI: return "CP1252";
    case MacRoman: return "MACINTOSH";
    case MacJapanese: return "SHIFT_JIS";
    case MacChineseTrad: return "BIG5";
    case MacKorean: return "EUC-KR";
    case MacCyrillic: return "MAC-CYRILLIC";
    case MacChineseSimp: return "GB2312";
    case MacCentralEurRoman: return "MAC-CENTRALEUROPE";
    default: throw RuntimeException("Unknown text encoding " + std::to_string(base));
    }
}

std::optional<TextEncoding> TextEncoding::forMacScript(int script)
{
    switch (script) {
    case MacRoman:
    case MacJapanese:
    case MacChineseTrad:
    case MacKorean:
    case MacCyrillic:
    case MacChineseSimp:
    case MacCentralEurRoman: return TextEncoding{std::uint32_t(script)};
    default: return std::nullopt;
    }
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not well formed).
std::size_t utf8SequenceLength(std::string_view s)
{
    auto at = [&](std::size_t i) { return std::uint8_t(s[i]); };
    auto cont = [&](std::size_t i) { return i < s.size() && (at(i) & 0xC0) == 0x80; };
    std::uint8_t b = at(0);
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if ((b == 0xE0 && at(1) < 0xA0) || (b == 0xED && at(1) >= 0xA0))
            return 0;
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if ((b == 0xF0 && at(1) < 0x90) || (b == 0xF4 && at(1) >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

// One iconv conversion. Input that the converter refuses is handed to `onBad`, which appends
// what stands in its place and returns how many input bytes it covers (at least one).
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == iconv_t(-1))
            throw RuntimeException(std::string("No conversion from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename OnBad>
    std::string run(std::string_view input, OnBad onBad)
    {
        std::string out;
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        std::size_t used = 0;
        out.resize(input.size() * 4 + 16);
        while (inLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            std::size_t rc = iconv(m_cd, &in, &inLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (rc != std::size_t(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut off at the end): replace and go on.
            out.resize(used);
            std::size_t skip = onBad(std::string_view(in, inLeft), out);
            used = out.size();
            out.resize(used + inLeft * 4 + 16);
            skip = std::min(std::max<std::size_t>(skip, 1), inLeft);
            in += skip;
            inLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t m_cd;
};

// `text` as valid UTF-8: bytes that do not belong to a well-formed sequence are read as
// Windows ANSI, one character each.
std::string repairUtf8(std::string_view text)
{
    if (isValidUtf8(text))
        return std::string(text);
    Converter ansi("UTF-8", "CP1252");
    std::string out;
    while (!text.empty()) {
        std::size_t n = utf8SequenceLength(text);
        if (n > 0) {
            out.append(text.substr(0, n));
        } else {
            n = 1;
            out += ansi.run(text.substr(0, 1), [](std::string_view, std::string& o) {
                o += '?';
                return std::size_t(1);
            });
        }
        text.remove_prefix(n);
    }
    return out;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    while (!text.empty()) {
        std::size_t n = utf8SequenceLength(text);
        if (n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string convertText(std::string_view text, TextEncoding from, TextEncoding to)
{
    const char* toName = to.iconvName();
    const char* fromName = from.iconvName();

    // Every conversion goes through UTF-8, so that each side replaces only what it cannot read
    // or write.
    std::string utf8;
    if (from.base == TextEncoding::UTF8) {
        utf8 = repairUtf8(text);
    } else {
        utf8 = Converter("UTF-8", fromName).run(text, [](std::string_view, std::string& out) {
            out += '?';
            return std::size_t(1);
        });
    }
    if (to.base == TextEncoding::UTF8)
        return utf8;
    return Converter(toName, "UTF-8").run(utf8, [](std::string_view rest, std::string& out) {
        // A character the target lacks: one "?" for the whole character.
        out += '?';
        return std::max<std::size_t>(utf8SequenceLength(rest), 1);
    });
}

} // namespace lv
