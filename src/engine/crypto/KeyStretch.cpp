#include "engine/crypto/KeyStretch.h"

#include <new>

#include <botan/pwdhash.h>

#include "platform/Exceptions.h"

namespace lv::crypto {

namespace {
constexpr std::size_t kMemoryKiB = 64 * 1024;
constexpr std::size_t kPasses = 3;
constexpr std::size_t kLanes = 1;
} // namespace

Botan::secure_vector<std::uint8_t> stretchKey(std::string_view key, std::span<const std::uint8_t> salt, std::size_t length)
{
    try {
        static const auto family = Botan::PasswordHashFamily::create_or_throw("Argon2id");
        const auto argon2 = family->from_params(kMemoryKiB, kPasses, kLanes);
        Botan::secure_vector<std::uint8_t> out(length);
        argon2->derive_key(out.data(), out.size(), key.data(), key.size(), salt.data(), salt.size());
        return out;
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryException("Not enough memory to derive the key");
    }
}

} // namespace lv::crypto
