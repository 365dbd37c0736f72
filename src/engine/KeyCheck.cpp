#include "engine/KeyCheck.h"

#include <botan/mem_ops.h>

#include <cstdint>
#include <thread>

#include "engine/CipherSuite.h"
#include "engine/crypto/SHA_512.h"

namespace lv {

namespace KeyCheck {

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

} // namespace KeyCheck

namespace {

// The body's deciphering object with its header taken; null when that cannot be done.
std::unique_ptr<BodyCipher> prepareBody(const FolderItem& file, const LVTagger& header, std::string_view key)
{
    std::unique_ptr<BodyCipher> body = CipherSuite::makeDecryptor(header.EncryptionType, key);
    if (!body)
        return nullptr;
    BinaryStreamPtr in = file.openAsBinaryFile(false);
    if (!in || header.TagLength < 0)
        return nullptr;
    in->setPosition(std::uint64_t(header.TagLength));
    const std::string bytes = in->read(BodyCipher::MaxHeaderSize);
    if (!body->beginDecrypting(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
        return nullptr;
    return body;
}

} // namespace

KeyCheckResult checkKeyForDecryption(const FolderItem& file, const LVTagger& header, std::string_view key)
{
    KeyCheckResult result;
    std::thread bodyKeys([&] {
        try {
            result.body = prepareBody(file, header, key);
        } catch (const std::exception&) {
            result.body.reset();
        }
    });
    try {
        result.matches = KeyCheck::keyMatches(key, header.q);
    } catch (...) {
        bodyKeys.join();
        throw;
    }
    bodyKeys.join();
    if (!result.matches)
        result.body.reset();
    else if (result.body)
        result.body->setKeyVerified();
    return result;
}

} // namespace lv
