#include "engine/KeyCheck.h"

#include <botan/mem_ops.h>

#include <cstdint>

#include "engine/crypto/SHA_512.h"

namespace lv::KeyCheck {

bool isLaterVersion(const LVTagger& header) noexcept { return header.FileTypeVersion >= 2; }

bool keyMatches(std::string_view key, std::string_view storedDigest)
{
    SHA_512 hash;
    hash.Update(key);
    std::string digest = hash.Final();
    const bool same = digest.size() == storedDigest.size() &&
                      Botan::constant_time_compare(reinterpret_cast<const std::uint8_t*>(digest.data()),
                                                   reinterpret_cast<const std::uint8_t*>(storedDigest.data()),
                                                   digest.size());
    Botan::secure_scrub_memory(digest.data(), digest.size());
    return same;
}

} // namespace lv::KeyCheck
