#pragma once
// Argon2id stretching of a typed key, shared by the body ciphers and the key digest, so that
// every guess at a key costs a memory-hard derivation.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <botan/secmem.h>

namespace lv::crypto {

// Argon2id with 64 MiB of memory, 3 passes and one lane over the bytes of `key` and `salt`
// (at least 8 bytes); `length` bytes out. OutOfMemoryException when the memory is not there.
Botan::secure_vector<std::uint8_t> stretchKey(std::string_view key, std::span<const std::uint8_t> salt, std::size_t length);

} // namespace lv::crypto
