#include "engine/crypto/SHA_512.h"

#include <botan/hash.h>
#include <botan/mem_ops.h>

#include "engine/crypto/KeyStretch.h"

namespace lv {

namespace {
// Fixed for all time: changing it changes every key digest and so every stored header.
constexpr std::string_view kDigestSalt = "Lockvane key digest v1";
constexpr std::size_t kStretchedSize = 64;
} // namespace

SHA_512::~SHA_512() { wipe(); }

void SHA_512::Update(std::string_view data)
{
    if (m_input.size() + data.size() > m_input.capacity()) {
        // Grow by hand so that no unwiped copy of the key is left behind in freed memory.
        std::string grown;
        grown.reserve(2 * (m_input.size() + data.size()));
        grown.append(m_input);
        wipe();
        m_input.swap(grown);
    }
    m_input.append(data);
}

std::string SHA_512::Final()
{
    const auto salt = std::span(reinterpret_cast<const std::uint8_t*>(kDigestSalt.data()), kDigestSalt.size());
    const auto stretched = crypto::stretchKey(m_input, salt, kStretchedSize);
    wipe();
    const auto digest = Botan::HashFunction::create_or_throw("SHA-512")->process(stretched);
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

void SHA_512::wipe() noexcept
{
    Botan::secure_scrub_memory(m_input.data(), m_input.capacity());
    m_input.clear();
}

} // namespace lv
