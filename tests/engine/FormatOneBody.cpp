#include "FormatOneBody.h"

#include <botan/auto_rng.h>
#include <botan/cipher_mode.h>
#include <botan/mac.h>

#include <stdexcept>

#include "engine/crypto/KeyStretch.h"

namespace lv::test {

namespace {

struct Suite {
    std::uint8_t id;
    const char* mode;
    std::size_t keyBytes, blockBytes;
};

Suite suiteOf(std::string_view cipher)
{
    if (cipher == "Blowfish") return {1, "Blowfish/CBC/PKCS7", 56, 8};
    if (cipher == "AES") return {2, "AES-256/CBC/PKCS7", 32, 16};
    if (cipher == "Serpent") return {3, "Serpent/CBC/PKCS7", 32, 16};
    throw std::invalid_argument("no such cipher");
}

} // namespace

std::string formatOneBody(std::string_view cipher, std::string_view key, std::string_view plaintext)
{
    constexpr std::size_t SaltBytes = 16, MacKeyBytes = 64;
    const Suite suite = suiteOf(cipher);
    Botan::AutoSeeded_RNG rng;
    // "LVB1" | cipher id | salt | IV
    Botan::secure_vector<std::uint8_t> body = {'L', 'V', 'B', '1', suite.id};
    const auto salt = rng.random_vec(SaltBytes);
    const auto iv = rng.random_vec(suite.blockBytes);
    body.insert(body.end(), salt.begin(), salt.end());
    body.insert(body.end(), iv.begin(), iv.end());

    const auto keys = crypto::stretchKey(key, salt, suite.keyBytes + MacKeyBytes);
    const auto mode = Botan::Cipher_Mode::create_or_throw(suite.mode, Botan::ENCRYPTION);
    mode->set_key(keys.data(), suite.keyBytes);
    mode->start(iv);
    Botan::secure_vector<std::uint8_t> ciphertext(plaintext.begin(), plaintext.end());
    mode->finish(ciphertext);
    body.insert(body.end(), ciphertext.begin(), ciphertext.end());

    const auto mac = Botan::MessageAuthenticationCode::create_or_throw("HMAC(SHA-512)");
    mac->set_key(keys.data() + suite.keyBytes, MacKeyBytes);
    const auto tag = mac->process(body);
    body.insert(body.end(), tag.begin(), tag.end());
    return std::string(body.begin(), body.end());
}

} // namespace lv::test
