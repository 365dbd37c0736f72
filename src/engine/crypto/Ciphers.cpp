#include "engine/crypto/Ciphers.h"

#include <algorithm>
#include <array>

#include <botan/auto_rng.h>
#include <botan/cipher_mode.h>
#include <botan/kdf.h>
#include <botan/mac.h>
#include <botan/mem_ops.h>
#include <botan/secmem.h>

#include "engine/crypto/KeyStretch.h"
#include "platform/Exceptions.h"

namespace lv {

namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'L', 'V', 'B', '1'};
constexpr std::array<std::uint8_t, 4> kMagic2 = {'L', 'V', 'B', '2'};
constexpr std::size_t kSaltSize = 16;
// Format 2: the body's header (magic, cipher, salt, segment size), the Argon2id output that every
// segment's keys come from, and the label of the derivation.
constexpr std::size_t kHeader2Size = 4 + 1 + kSaltSize + 4;
constexpr std::size_t kMasterKeySize = 64;
constexpr std::string_view kSegmentLabel = "Lockvane body segment";
// Segments smaller than this, or not whole blocks, are no body of ours.
constexpr std::size_t kMinSegmentSize = 4096;
constexpr std::size_t kMaxSegmentSize = std::size_t(64) << 20;
constexpr std::size_t kMacKeySize = 64;
constexpr std::size_t kTagSize = 64;

constexpr const char* kIncomplete = "The encrypted data is incomplete.";
constexpr const char* kNotAuthentic = "The key is wrong or the encrypted data is damaged.";
constexpr const char* kDamaged = "The encrypted data is damaged.";
constexpr const char* kForeign = "The encrypted data was not made by this cipher.";

struct Suite {
    const char* mode;
    std::size_t keySize;
    std::size_t blockSize;
    const char* unpadded;  // the same cipher in CBC without padding
};

void putBigEndian(std::uint8_t* out, std::uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = std::uint8_t(value >> (8 * (bytes - 1 - i)));
}

std::uint64_t getBigEndian(const std::uint8_t* in, std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value = value << 8 | in[i];
    return value;
}

std::string toString(const std::uint8_t* bytes, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

} // namespace

struct BodyCipher::Impl {
    Algorithm algorithm;
    Suite suite;
    Direction direction;
    Botan::secure_vector<std::uint8_t> key; // the typed key, until the cipher keys are derived
    std::unique_ptr<Botan::Cipher_Mode> cipher;
    std::unique_ptr<Botan::MessageAuthenticationCode> mac;
    // Plaintext short of a whole block (encrypting); ciphertext and tag held back (decrypting).
    Botan::secure_vector<std::uint8_t> held;
    bool started = false; // body header written or read
    // Format 2: the body's header, the key every segment's keys come from, the segment size.
    bool segmented = false;
    std::array<std::uint8_t, kHeader2Size> header2{};
    Botan::secure_vector<std::uint8_t> master;
    std::size_t segmentSize = 0;
    bool finished = false;
    bool failed = false;
    bool keyVerified = false;
    std::string error;

    Impl(Algorithm a, std::string_view typedKey, Direction d)
        : algorithm(a), suite(suiteFor(a)), direction(d), key(typedKey.begin(), typedKey.end())
    {
    }

    static Suite suiteFor(Algorithm algorithm)
    {
        switch (algorithm) {
        case Algorithm::Blowfish: return {"Blowfish/CBC/PKCS7", 56, 8, "Blowfish/CBC/NoPadding"};
        case Algorithm::AES: return {"AES-256/CBC/PKCS7", 32, 16, "AES-256/CBC/NoPadding"};
        case Algorithm::Serpent: return {"Serpent/CBC/PKCS7", 32, 16, "Serpent/CBC/NoPadding"};
        }
        throw RuntimeException("Unknown cipher");
    }

    std::size_t headerSize() const { return kMagic.size() + 1 + kSaltSize + suite.blockSize; }

    void use(bool toEncrypt)
    {
        const Direction wanted = toEncrypt ? Direction::Encrypt : Direction::Decrypt;
        if (direction == Direction::FirstUse)
            direction = wanted;
        if (direction != wanted)
            throw RuntimeException(toEncrypt ? "Encrypting with a decrypting cipher object"
                                             : "Decrypting with an encrypting cipher object");
        if (finished)
            throw RuntimeException("Cipher object used after its finishing call");
    }

    // The MAC's tag over everything so far equals `expected` (kTagSize bytes), compared in
    // constant time.
    bool tagMatches(const std::uint8_t* expected)
    {
        const auto tag = mac->final();
        return Botan::constant_time_compare(tag.data(), expected, kTagSize);
    }

    const char* notAuthentic() const { return keyVerified ? kDamaged : kNotAuthentic; }

    void fail(const char* text)
    {
        failed = true;
        if (error.empty())
            error = text;
        Botan::zeroise(held);
        held.clear();
    }

    // Format 1: cipher and MAC keys from one derivation; the typed key is wiped afterwards.
    void startFormatOne(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> iv)
    {
        auto keys = crypto::stretchKey(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()), salt,
                                       suite.keySize + kMacKeySize);
        Botan::zeroise(key);
        key.clear();
        cipher = Botan::Cipher_Mode::create_or_throw(suite.mode, Botan::DECRYPTION);
        cipher->set_key(keys.data(), suite.keySize);
        cipher->start(iv.data(), iv.size());
        mac = Botan::MessageAuthenticationCode::create_or_throw("HMAC(SHA-512)");
        mac->set_key(keys.data() + suite.keySize, kMacKeySize);
        started = true;
    }

    // Format 2: the keys of the segments come from one derivation; the typed key is wiped.
    void startSegments()
    {
        master = crypto::stretchKey(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()),
                                    std::span(header2.data() + kMagic2.size() + 1, kSaltSize), kMasterKeySize);
        Botan::zeroise(key);
        key.clear();
        segmentSize = std::size_t(getBigEndian(header2.data() + kHeader2Size - 4, 4));
        segmented = true;
        started = true;
    }

    // Cipher key, MAC key and IV of one segment.
    Botan::secure_vector<std::uint8_t> segmentKeys(std::uint64_t index) const
    {
        std::array<std::uint8_t, kSegmentLabel.size() + 8> label{};
        std::copy(kSegmentLabel.begin(), kSegmentLabel.end(), label.begin());
        putBigEndian(label.data() + kSegmentLabel.size(), index, 8);
        const auto hkdf = Botan::KDF::create_or_throw("HKDF(SHA-512)");
        return hkdf->derive_key(suite.keySize + kMacKeySize + suite.blockSize, master.data(), master.size(),
                                header2.data() + kMagic2.size() + 1, kSaltSize, label.data(), label.size());
    }

    // The tag of segment `index` over its stored ciphertext.
    Botan::secure_vector<std::uint8_t> segmentTag(const Botan::secure_vector<std::uint8_t>& keys, std::uint64_t index,
                                                  bool last, std::span<const std::uint8_t> outerHeader,
                                                  std::span<const std::uint8_t> ciphertext) const
    {
        const auto hmac = Botan::MessageAuthenticationCode::create_or_throw("HMAC(SHA-512)");
        hmac->set_key(keys.data() + suite.keySize, kMacKeySize);
        hmac->update(header2.data(), header2.size());
        hmac->update(outerHeader.data(), outerHeader.size());
        std::array<std::uint8_t, 9> place{};
        putBigEndian(place.data(), index, 8);
        place[8] = last ? 1 : 0;
        hmac->update(place.data(), place.size());
        hmac->update(ciphertext.data(), ciphertext.size());
        auto tag = hmac->final();
        tag.resize(BodyCipher::SegmentTagSize);
        return tag;
    }

    std::unique_ptr<Botan::Cipher_Mode> segmentCipher(const Botan::secure_vector<std::uint8_t>& keys, bool last,
                                                      Botan::Cipher_Dir dir) const
    {
        auto mode = Botan::Cipher_Mode::create_or_throw(last ? suite.mode : suite.unpadded, dir);
        mode->set_key(keys.data(), suite.keySize);
        mode->start(keys.data() + suite.keySize + kMacKeySize, suite.blockSize);
        return mode;
    }

    // False (and failed) when the held bytes begin with a header that is not ours.
    bool readHeader()
    {
        if (std::equal(kMagic2.begin(), kMagic2.end(), held.begin())) {
            const std::size_t size = held.size() >= kHeader2Size ? std::size_t(getBigEndian(held.data() + 21, 4)) : 0;
            if (held[kMagic2.size()] != std::uint8_t(algorithm) || size < kMinSegmentSize ||
                size > kMaxSegmentSize || size % suite.blockSize != 0) {
                fail(kForeign);
                return false;
            }
            std::copy(held.begin(), held.begin() + kHeader2Size, header2.begin());
            startSegments();
            held.clear();
            return true;
        }
        if (!std::equal(kMagic.begin(), kMagic.end(), held.begin()) || held[kMagic.size()] != std::uint8_t(algorithm)) {
            fail(kForeign);
            return false;
        }
        std::span<const std::uint8_t> salt(held.data() + kMagic.size() + 1, kSaltSize);
        std::span<const std::uint8_t> iv(salt.data() + kSaltSize, suite.blockSize);
        startFormatOne(salt, iv);
        mac->update(held.data(), headerSize());
        held.erase(held.begin(), held.begin() + std::ptrdiff_t(headerSize()));
        return true;
    }

    // Authenticates and deciphers the first `count` held bytes (whole blocks of ciphertext) and
    // returns their plaintext.
    std::string decipherHeld(std::size_t count)
    {
        if (count == 0)
            return {};
        mac->update(held.data(), count);
        cipher->process(held.data(), count);
        std::string out = toString(held.data(), count);
        held.erase(held.begin(), held.begin() + std::ptrdiff_t(count));
        return out;
    }
};

BodyCipher::BodyCipher(Algorithm algorithm, std::string_view key, Direction direction)
    : m_impl(std::make_unique<Impl>(algorithm, key, direction))
{
}

BodyCipher::~BodyCipher() = default;

std::string BodyCipher::Decrypt(std::string_view piece)
{
    Impl& d = *m_impl;
    d.use(false);
    if (d.failed)
        return {};
    d.held.insert(d.held.end(), piece.begin(), piece.end());
    if (!d.started && (d.held.size() < d.headerSize() || !d.readHeader()))
        return {};
    if (d.segmented) {
        // Segments are opened one by one (openSegment), never streamed.
        d.fail(kForeign);
        return {};
    }
    // The last block and the tag stay until FinishDecrypt, whatever comes after this piece.
    const std::size_t keep = kTagSize + d.suite.blockSize;
    if (d.held.size() <= keep)
        return {};
    return d.decipherHeld((d.held.size() - keep) / d.suite.blockSize * d.suite.blockSize);
}

std::string BodyCipher::FinishDecrypt()
{
    Impl& d = *m_impl;
    d.use(false);
    d.finished = true;
    if (d.failed)
        return {};
    const std::size_t bs = d.suite.blockSize;
    if (!d.started || d.held.size() < kTagSize + bs || (d.held.size() - kTagSize) % bs != 0) {
        d.fail(kIncomplete);
        return {};
    }
    const std::size_t body = d.held.size() - kTagSize;
    d.mac->update(d.held.data(), body);
    if (!d.tagMatches(d.held.data() + body)) {
        d.fail(d.notAuthentic());
        return {};
    }
    d.held.resize(body);
    try {
        d.cipher->finish(d.held);
    } catch (const Botan::Exception&) {
        // Authentic but badly padded: never written by an encrypting object.
        d.fail(d.notAuthentic());
        return {};
    }
    std::string out = toString(d.held.data(), d.held.size());
    Botan::zeroise(d.held);
    d.held.clear();
    return out;
}

std::size_t BodyCipher::blockSize() const noexcept { return m_impl->suite.blockSize; }

std::size_t BodyCipher::headerSize() const noexcept
{
    return m_impl->segmented ? kHeader2Size : m_impl->headerSize();
}

std::string BodyCipher::beginSegments(std::size_t segmentSize)
{
    Impl& d = *m_impl;
    d.use(true);
    if (d.started)
        throw RuntimeException("The body has begun already");
    if (segmentSize < kMinSegmentSize || segmentSize > kMaxSegmentSize || segmentSize % d.suite.blockSize != 0)
        throw RuntimeException("Unsuitable segment size");
    std::copy(kMagic2.begin(), kMagic2.end(), d.header2.begin());
    d.header2[kMagic2.size()] = std::uint8_t(d.algorithm);
    Botan::AutoSeeded_RNG rng;
    rng.randomize(d.header2.data() + kMagic2.size() + 1, kSaltSize);
    putBigEndian(d.header2.data() + kHeader2Size - 4, segmentSize, 4);
    d.startSegments();
    return toString(d.header2.data(), d.header2.size());
}

bool BodyCipher::segmented() const noexcept { return m_impl->segmented; }

std::size_t BodyCipher::segmentSize() const noexcept { return m_impl->segmentSize; }

std::size_t BodyCipher::segmentCapacity() const noexcept
{
    return m_impl->segmentSize + m_impl->suite.blockSize + SegmentTagSize;
}

std::size_t BodyCipher::storedSegmentSize(std::size_t plainBytes, bool last) const noexcept
{
    const std::size_t bs = m_impl->suite.blockSize;
    return (last ? (plainBytes / bs + 1) * bs : plainBytes) + SegmentTagSize;
}

void BodyCipher::sealSegment(std::uint64_t index, bool last, std::span<const std::uint8_t> outerHeader,
                             ByteBuffer& segment) const
{
    const Impl& d = *m_impl;
    if (!d.segmented || (!last && segment.size() != d.segmentSize) || segment.size() > d.segmentSize)
        throw RuntimeException("Not a segment of this body");
    const auto keys = d.segmentKeys(index);
    const auto cipher = d.segmentCipher(keys, last, Botan::ENCRYPTION);
    const std::size_t plain = segment.size();
    const std::size_t stored = storedSegmentSize(plain, last) - SegmentTagSize;
    segment.resize(stored + SegmentTagSize);
    if (last) {
        // Padding: the whole blocks first, then the rest with its pad.
        const std::size_t whole = plain / d.suite.blockSize * d.suite.blockSize;
        cipher->process(segment.data(), whole);
        Botan::secure_vector<std::uint8_t> rest(segment.begin() + std::ptrdiff_t(whole),
                                                segment.begin() + std::ptrdiff_t(plain));
        cipher->finish(rest);
        std::copy(rest.begin(), rest.end(), segment.begin() + std::ptrdiff_t(whole));
    } else {
        cipher->process(segment.data(), plain);
    }
    const auto tag = d.segmentTag(keys, index, last, outerHeader, std::span(segment.data(), stored));
    std::copy(tag.begin(), tag.end(), segment.begin() + std::ptrdiff_t(stored));
}

bool BodyCipher::openSegment(std::uint64_t index, bool last, std::span<const std::uint8_t> outerHeader,
                             ByteBuffer& segment) const
{
    const Impl& d = *m_impl;
    const std::size_t bs = d.suite.blockSize;
    const auto refuse = [&] {
        Botan::secure_scrub_memory(segment.data(), segment.size());
        segment.clear();
        return false;
    };
    if (!d.segmented || segment.size() < SegmentTagSize)
        return refuse();
    const std::size_t stored = segment.size() - SegmentTagSize;
    if (last ? (stored < bs || stored > d.segmentSize + bs || stored % bs != 0) : stored != d.segmentSize)
        return refuse();
    const auto keys = d.segmentKeys(index);
    const auto tag = d.segmentTag(keys, index, last, outerHeader, std::span(segment.data(), stored));
    if (!Botan::constant_time_compare(tag.data(), segment.data() + stored, SegmentTagSize))
        return refuse();
    const auto cipher = d.segmentCipher(keys, last, Botan::DECRYPTION);
    if (!last) {
        cipher->process(segment.data(), stored);
        segment.resize(stored);
        return true;
    }
    // The last block carries the padding.
    cipher->process(segment.data(), stored - bs);
    Botan::secure_vector<std::uint8_t> end(segment.begin() + std::ptrdiff_t(stored - bs),
                                           segment.begin() + std::ptrdiff_t(stored));
    try {
        cipher->finish(end);
    } catch (const Botan::Exception&) {
        return refuse();  // authentic but badly padded: never written by us
    }
    std::copy(end.begin(), end.end(), segment.begin() + std::ptrdiff_t(stored - bs));
    segment.resize(stored - bs + end.size());
    return true;
}

bool BodyCipher::beginDecrypting(std::span<const std::uint8_t> header)
{
    Impl& d = *m_impl;
    d.use(false);
    if (d.started)
        throw RuntimeException("The body has begun already");
    const bool second = header.size() >= kMagic2.size() && std::equal(kMagic2.begin(), kMagic2.end(), header.begin());
    if (header.size() < (second ? kHeader2Size : d.headerSize())) {
        d.fail(kIncomplete);
        return false;
    }
    d.held.assign(header.begin(), header.begin() + std::ptrdiff_t(second ? kHeader2Size : d.headerSize()));
    const bool ours = d.readHeader();
    d.held.clear();
    return ours;
}

void BodyCipher::decipherBlocks(std::span<std::uint8_t> blocks)
{
    m_impl->cipher->process(blocks.data(), blocks.size());
}

void BodyCipher::authenticate(std::span<const std::uint8_t> ciphertext)
{
    m_impl->mac->update(ciphertext.data(), ciphertext.size());
}

std::optional<std::string> BodyCipher::finishDecrypting(std::span<const std::uint8_t> tail)
{
    Impl& d = *m_impl;
    d.use(false);
    if (d.failed || !d.started || tail.size() != d.suite.blockSize + kTagSize) {
        d.finished = true;
        d.fail(kIncomplete);
        return std::nullopt;
    }
    d.held.assign(tail.begin(), tail.end());
    std::string last = FinishDecrypt();
    if (d.failed)
        return std::nullopt;
    return last;
}

std::optional<std::string> BodyCipher::decipherLastBlock(std::span<const std::uint8_t> tail, std::string& error)
{
    Impl& d = *m_impl;
    const std::size_t bs = d.suite.blockSize;
    if (!d.started || d.direction != Direction::Decrypt || tail.size() != bs + kTagSize) {
        error = kIncomplete;
        return std::nullopt;
    }
    Botan::secure_vector<std::uint8_t> last(tail.begin(), tail.begin() + std::ptrdiff_t(bs));
    try {
        d.cipher->finish(last);
    } catch (const Botan::Exception&) {
        error = d.notAuthentic();
        return std::nullopt;
    }
    return toString(last.data(), last.size());
}

bool BodyCipher::checkTag(std::span<const std::uint8_t> tail)
{
    Impl& d = *m_impl;
    d.use(false);
    d.finished = true;
    const std::size_t bs = d.suite.blockSize;
    if (d.failed || !d.started || tail.size() != bs + kTagSize) {
        d.fail(kIncomplete);
        return false;
    }
    d.mac->update(tail.data(), bs);
    if (!d.tagMatches(tail.data() + bs)) {
        d.fail(d.notAuthentic());
        return false;
    }
    return true;
}

bool BodyCipher::failed() const noexcept { return m_impl->failed; }

void BodyCipher::setKeyVerified() noexcept { m_impl->keyVerified = true; }

const char* BodyCipher::notAuthenticText() const noexcept { return m_impl->notAuthentic(); }

std::string BodyCipher::errorText() const { return m_impl->error; }

BlowfishCBC::BlowfishCBC(std::string_view key) : BodyCipher(Algorithm::Blowfish, key, Direction::FirstUse) {}

BlowfishCBC::BlowfishCBC(std::string_view key, bool decrypting)
    : BodyCipher(Algorithm::Blowfish, key, decrypting ? Direction::Decrypt : Direction::Encrypt)
{
}

AES_CBC::AES_CBC(std::string_view key) : BodyCipher(Algorithm::AES, key, Direction::FirstUse) {}

AES_CBC::AES_CBC(std::string_view key, bool decrypting)
    : BodyCipher(Algorithm::AES, key, decrypting ? Direction::Decrypt : Direction::Encrypt)
{
}

Serpent::Serpent(std::string_view key, int keyType, int mode)
    : BodyCipher(Algorithm::Serpent, key, keyType == 0 ? Direction::Encrypt : Direction::Decrypt)
{
    if ((keyType != 0 && keyType != 1) || mode != 2)
        throw RuntimeException("Serpent supports keyType 0 (encrypt) or 1 (decrypt) with mode 2 (CBC)");
}

} // namespace lv
