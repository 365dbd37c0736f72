#pragma once
// The two checks made before a decryption starts, in one place for every road that starts one
// (the key sheet, the document handler, the drop zone, the benchmark driver).

#include <string>
#include <string_view>

#include "engine/LVTagger.h"

namespace lv::KeyCheck {

inline constexpr const char* IncorrectKeyText = "Incorrect Key.";
inline constexpr const char* LaterVersionText =
    "This file was produced by a later version of Lockvane and cannot be decrypted by this version.";

// True when the header was written by a later format version than this program reads.
bool isLaterVersion(const LVTagger& header) noexcept;

// True when `key` (as typed, UTF-8) is the key whose digest the header holds. The digest is
// memory-hard (a fraction of a second): never call this on the GUI thread. Compared in constant
// time, exactly, letter case included.
bool keyMatches(std::string_view key, std::string_view storedDigest);

} // namespace lv::KeyCheck
