#include "app/Preferences.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>

#include "engine/CipherSuite.h"
#include "engine/LVTagger.h"
#include "platform/Exceptions.h"
#include "platform/SpecialFolders.h"

namespace lv {

namespace {

constexpr const char* DefaultExtensions[] = {".doc", ".docx", ".txt", ".rtf", ".ppt", ".xls", ".mp3",
                                             ".jpg", ".png", ".mov", ".mp4", ".avi", ".cdx"};

std::string boolText(bool value) { return value ? "True" : "False"; }

bool boolFromText(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower == "true";
}

// The leading decimal integer of a text (optional sign, then digits); nullopt when there is none.
std::optional<std::int64_t> leadingInteger(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range)
        return text.front() == '-' ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    return value;
}

std::int32_t clampToInt32(std::int64_t v)
{
    return std::int32_t(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

// A value as it may stand on one line: line breaks dropped.
std::string oneLine(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value)
        if (c != '\n' && c != '\r') out.push_back(c);
    return out;
}

void appendLine(std::string& out, std::string_view tag, std::string_view value)
{
    out += '<';
    out += tag;
    out += '>';
    out += oneLine(value);
    out += "</";
    out += tag;
    out += ">\n";
}

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

bool isUsableFolder(const FolderItem& item)
{
    if (item.isNull()) return false;
    if (item.isFolder()) return true;
    auto target = item.resolveAlias();
    return target && target->isFolder();
}

// The settings file in `folder`; a link to a file (a managed dotfile) stands for the file it
// leads to, so that it is read and kept, never replaced by a plain copy.
FolderItem settingsFile(const FolderItem& folder)
{
    FolderItem file = folder.child(Preferences::FileName);
    if (file.isAlias())
        if (auto target = file.resolveAlias(); target && target->isFile()) return *target;
    return file;
}

} // namespace

Preferences& Preferences::shared()
{
    static Preferences prefs;
    return prefs;
}

// The same rule as the header reader's.
std::string Preferences::ParseLine(std::string_view text, std::string_view tag) { return LVTagger::ParseLine(text, tag); }

void Preferences::useDefaultExtensions()
{
    for (const char* ext : DefaultExtensions) Extensions.emplace_back(ext);
}

std::string Preferences::fileText() const
{
    std::string out;
    appendLine(out, "PreferenceFileVersion", std::to_string(FormatVersion));
    appendLine(out, "BounceDockIcon", boolText(BounceDockIcon));
    appendLine(out, "Compress", boolText(Compress));
    appendLine(out, "ConfirmKey", boolText(ConfirmKey));
    appendLine(out, "DecryptReminder", boolText(DecryptReminder));
    appendLine(out, "DestinationFolder", DestinationFolder.shellPath());
    if (int code = CipherSuite::codeOf(DefaultEncryptionType); code >= 0)
        appendLine(out, "DefaultEncryptionType", std::to_string(code));
    appendLine(out, "DefaultFileExtension", DefaultFileExtension);
    appendLine(out, "DefaultFileName", DefaultFileName);
    appendLine(out, "GrowlEnabled", boolText(GrowlEnabled));
    appendLine(out, "GrowlRegistered", boolText(GrowlRegistered));
    appendLine(out, "pLeft", std::to_string(pLeft));
    appendLine(out, "ShowPasswordStrength", boolText(ShowPasswordStrength));
    appendLine(out, "pTop", std::to_string(pTop));
    appendLine(out, "UserGuidePath", UserGuidePath);
    appendLine(out, "ExtensionNumber", std::to_string(std::int64_t(Extensions.size()) - 1));
    for (const auto& ext : Extensions) appendLine(out, "Extension", ext);
    return out;
}

void Preferences::readText(std::string_view text)
{
    // The extension block: the lines after the first ExtensionNumber line.
    const auto lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("<ExtensionNumber>") == std::string_view::npos) continue;
        const auto n = leadingInteger(ParseLine(lines[i], "ExtensionNumber")).value_or(-1);
        for (std::size_t j = i + 1; n >= 0 && j < lines.size() && std::int64_t(j - i - 1) <= n; ++j)
            Extensions.push_back(ParseLine(lines[j], "Extension"));
        break;
    }

    auto take = [&](std::string_view tag) { return ParseLine(text, tag); };
    auto takeBool = [&](std::string_view tag, bool& setting) {
        if (auto v = take(tag); !v.empty()) setting = boolFromText(v);
    };
    auto takeText = [&](std::string_view tag, std::string& setting) {
        if (auto v = take(tag); !v.empty()) setting = v;
    };
    auto takeInt = [&](std::string_view tag, std::int32_t& setting) {
        if (auto v = leadingInteger(take(tag))) setting = clampToInt32(*v);
    };

    takeBool("BounceDockIcon", BounceDockIcon);
    takeBool("Compress", Compress);
    takeBool("ConfirmKey", ConfirmKey);
    takeBool("DecryptReminder", DecryptReminder);
    if (auto code = leadingInteger(take("DefaultEncryptionType"))) {
        if (auto name = CipherSuite::nameOf(int(std::clamp<std::int64_t>(*code, -1, 3))); !name.empty())
            DefaultEncryptionType = name;
    }
    takeText("DefaultFileExtension", DefaultFileExtension);
    takeText("DefaultFileName", DefaultFileName);
    if (auto v = take("DestinationFolder"); !v.empty()) DestinationFolder = FolderItem(v);
    takeBool("GrowlEnabled", GrowlEnabled);
    takeBool("GrowlRegistered", GrowlRegistered);
    takeInt("pLeft", pLeft);
    takeInt("pTop", pTop);
    takeBool("ShowPasswordStrength", ShowPasswordStrength);
    takeText("UserGuidePath", UserGuidePath);
}

void Preferences::ReadPrefs()
{
    FolderItem folder;
    try {
        folder = SpecialFolders::preferences();
    } catch (const RuntimeException&) {
        // No settings folder can be made: the defaults stay, and nothing is said.
    }
    ReadPrefs(folder);
}

void Preferences::ReadPrefs(const FolderItem& folder)
{
    const FolderItem file = folder.isNull() ? FolderItem() : settingsFile(folder);
    BinaryStreamPtr stream = file.isFile() ? file.openAsBinaryFile(false) : nullptr;
    if (!stream) {
        useDefaultExtensions();
        DestinationFolder = SpecialFolders::desktop();
        return;
    }
    std::string text;
    for (std::string piece; !(piece = stream->read(64 * 1024)).empty();) text += piece;
    stream->close();

    readText(text);
    // A destination that no longer exists (or the program's own folder) becomes the Desktop.
    if (!isUsableFolder(DestinationFolder) || DestinationFolder.displayName() == "Lockvane")
        DestinationFolder = SpecialFolders::desktop();
}

bool Preferences::WritePrefs() const
{
    try {
        return WritePrefs(SpecialFolders::preferences());
    } catch (const RuntimeException&) {
        return false;
    }
}

bool Preferences::WritePrefs(const FolderItem& folder) const
{
    if (folder.isNull()) return false;
    const FolderItem file = settingsFile(folder);
    FolderItem temp = file.parent().child("." + std::string(FileName) + "." + std::to_string(::getpid()) + ".tmp");

    BinaryStreamPtr stream = temp.createBinaryFile(0644);
    if (!stream) return false;
    const bool written = stream->write(fileText()) && stream->sync();
    const bool closed = stream->close();
    if (!written || !closed || std::rename(temp.path().c_str(), file.path().c_str()) != 0) {
        temp.remove();
        return false;
    }
    return true;
}

} // namespace lv
