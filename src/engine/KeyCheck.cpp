#include "engine/KeyCheck.h"

#include <botan/mem_ops.h>

#include <thread>

#include "engine/CipherSuite.h"
#include "engine/crypto/SHA_512.h"

namespace lv {

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
    const std::string bytes = in->read(body->headerSize());
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
        SHA_512 hash;
        hash.Update(key);
        const std::string digest = hash.Final();
        result.matches = digest.size() == header.q.size() &&
                         Botan::constant_time_compare(reinterpret_cast<const std::uint8_t*>(digest.data()),
                                                      reinterpret_cast<const std::uint8_t*>(header.q.data()),
                                                      digest.size());
    } catch (...) {
        bodyKeys.join();
        throw;
    }
    bodyKeys.join();
    if (!result.matches)
        result.body.reset();
    return result;
}

} // namespace lv
