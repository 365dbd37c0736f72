#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <random>

#include "FormatOneBody.h"
#include "engine/crypto/Ciphers.h"
#include "platform/Exceptions.h"
#include "support/TempDir.h"

namespace lv {
namespace {

using Make = std::function<std::unique_ptr<BodyCipher>(std::string_view key)>;

struct CipherKind {
    const char* name;
    std::size_t blockSize;
    Make encryptor, decryptor;
};

const CipherKind kKinds[] = {
    {"Blowfish", 8, [](std::string_view k) { return std::make_unique<BlowfishCBC>(k); },
     [](std::string_view k) { return std::make_unique<BlowfishCBC>(k, true); }},
    {"AES", 16, [](std::string_view k) { return std::make_unique<AES_CBC>(k); },
     [](std::string_view k) { return std::make_unique<AES_CBC>(k, true); }},
    {"Serpent", 16, [](std::string_view k) { return std::make_unique<Serpent>(k, 0, 2); },
     [](std::string_view k) { return std::make_unique<Serpent>(k, 1, 2); }},
};

void PrintTo(const CipherKind& kind, std::ostream* os) { *os << kind.name; }

constexpr std::size_t kTagSize = 64;
std::size_t headerSize(const CipherKind& kind) { return 4 + 1 + 16 + kind.blockSize; }

// Feeds `input` to `step` in pieces cut at random points (empty pieces included); short inputs
// are cut too, so that pieces end inside the body's header, a block and the tag.
std::string inRandomPieces(const std::string& input, unsigned seed, const std::function<std::string(std::string_view)>& step)
{
    std::mt19937 gen(seed);
    const std::size_t maxPiece = std::max<std::size_t>(input.size() / 3, 2);
    std::string out;
    for (std::size_t pos = 0; pos <= input.size();) {
        std::size_t n = std::min<std::size_t>(input.size() - pos, gen() % maxPiece);
        out += step(std::string_view(input).substr(pos, n));
        pos += n;
        if (pos == input.size())
            break;
    }
    return out;
}

// A format-1 body, as earlier versions wrote them.
std::string encrypt(const CipherKind& kind, std::string_view key, const std::string& plain)
{
    return test::formatOneBody(kind.name, key, plain);
}

struct Decrypted {
    std::string beforeFinish, all;
    bool failed;
    std::string error;
};

Decrypted decrypt(const CipherKind& kind, std::string_view key, const std::string& body, unsigned seed = 2)
{
    auto dec = kind.decryptor(key);
    Decrypted d;
    d.beforeFinish = inRandomPieces(body, seed, [&](std::string_view p) { return dec->Decrypt(p); });
    const std::string rest = dec->FinishDecrypt();
    d.all = d.beforeFinish + rest;
    d.failed = dec->failed();
    d.error = dec->errorText();
    if (d.failed) {
        EXPECT_EQ(rest, "") << "a failed body must not release its final block";
    }
    return d;
}

// The pipelined calls as the cipher stage makes them: whole blocks in chunks, the MAC fed apart,
// deciphered in place; the rest at the finish.
std::optional<std::string> decryptPipelined(const CipherKind& kind, std::string_view key, const std::string& body,
                                            std::size_t chunk)
{
    auto dec = kind.decryptor(key);
    const auto bytes = [&](std::size_t from, std::size_t to) {
        return std::vector<std::uint8_t>(body.begin() + std::ptrdiff_t(from), body.begin() + std::ptrdiff_t(to));
    };
    const std::size_t hs = dec->headerSize();
    if (!dec->beginDecrypting(bytes(0, std::min(hs, body.size()))))
        return std::nullopt;
    const std::size_t tailSize = kind.blockSize + BodyCipher::TagSize;
    const std::size_t blocksEnd = body.size() >= hs + tailSize ? body.size() - tailSize : hs;
    std::string plain;
    for (std::size_t at = hs; at < blocksEnd; at += chunk) {
        std::vector<std::uint8_t> c = bytes(at, std::min(blocksEnd, at + chunk));
        c.resize(c.size() / kind.blockSize * kind.blockSize);
        dec->authenticate(c);
        dec->decipherBlocks(c);
        plain.append(c.begin(), c.end());
    }
    const auto last = dec->finishDecrypting(bytes(blocksEnd, body.size()));
    if (!last) {
        EXPECT_NE(dec->errorText(), "");
        return std::nullopt;
    }
    return plain + *last;
}

class CipherTest : public ::testing::TestWithParam<CipherKind> {};

TEST_P(CipherTest, PiecesSplitAtRandomPointsAndPipelinedChunksReadTheSame)
{
    const CipherKind& kind = GetParam();
    for (std::size_t size : {std::size_t(0), std::size_t(1), kind.blockSize - 1, kind.blockSize, kind.blockSize + 1,
                             std::size_t(1 << 20) + 3}) {
        SCOPED_TRACE(size);
        const std::string plain = test::randomBytes(size, unsigned(size) + 5);
        const std::string body = encrypt(kind, "correct horse", plain);

        const Decrypted d = decrypt(kind, "correct horse", body, unsigned(size) + 1);
        EXPECT_FALSE(d.failed) << d.error;
        EXPECT_EQ(d.error, "");
        EXPECT_TRUE(d.all == plain);
        // Everything but the padding-bearing final block may come out before the tag is checked.
        EXPECT_TRUE(d.beforeFinish == plain.substr(0, size - size % kind.blockSize));

        const std::size_t chunk = 64 * kind.blockSize;
        EXPECT_EQ(decryptPipelined(kind, "correct horse", body, chunk), plain);
        EXPECT_EQ(decryptPipelined(kind, "correct horse", body, chunk * 3), plain);
    }
}

TEST_P(CipherTest, PipelinedDecryptionRefusesWhatIsNotAuthentic)
{
    const CipherKind& kind = GetParam();
    const std::string plain = test::randomBytes(5000, 3);
    const std::string body = encrypt(kind, "Secret", plain);
    std::string flipped = body;
    flipped[headerSize(kind) + 100] ^= 0x01;
    EXPECT_FALSE(decryptPipelined(kind, "secret", body, 256));
    EXPECT_FALSE(decryptPipelined(kind, "Secret", flipped, 256));
    EXPECT_FALSE(decryptPipelined(kind, "Secret", body.substr(0, body.size() - 1), 256));
    EXPECT_FALSE(decryptPipelined(kind, "Secret", body.substr(0, headerSize(kind) - 1), 256));
    EXPECT_FALSE(decryptPipelined(kind, "Secret", body + std::string(kind.blockSize, 'x'), 256));
}

TEST_P(CipherTest, WrongKeyChangedByteAndShortBodyFailInFinishDecrypt)
{
    const CipherKind& kind = GetParam();
    const std::string plain = test::randomBytes(1000, 9);
    const std::string body = encrypt(kind, "Secret", plain);
    const std::size_t hs = headerSize(kind);
    auto flipped = [&](std::size_t at) {
        std::string b = body;
        b[at] = char(b[at] ^ 0x80);
        return b;
    };
    struct Case {
        std::string what, key, body;
    };
    const Case cases[] = {
        {"key differing in case", "secret", body},
        {"magic", "Secret", flipped(0)},
        {"cipher id", "Secret", flipped(4)},
        {"salt", "Secret", flipped(5)},
        {"IV", "Secret", flipped(hs - 1)},
        {"first ciphertext block", "Secret", flipped(hs)},
        {"final ciphertext block", "Secret", flipped(body.size() - kTagSize - 1)},
        {"tag", "Secret", flipped(body.size() - 1)},
        {"last byte missing", "Secret", body.substr(0, body.size() - 1)},
        {"tag missing", "Secret", body.substr(0, body.size() - kTagSize)},
        {"cut inside the header", "Secret", body.substr(0, hs - 1)},
        {"empty", "Secret", ""},
        {"one byte too many", "Secret", body + "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decrypted d = decrypt(kind, c.key, c.body);
        EXPECT_TRUE(d.failed);
        EXPECT_NE(d.error, "");
    }
}

TEST_P(CipherTest, TwoBodiesOfTheSameInputDiffer)
{
    const CipherKind& kind = GetParam();
    const std::string outer(142, 'h');
    const auto outerBytes = std::span(reinterpret_cast<const std::uint8_t*>(outer.data()), outer.size());
    std::string headers[2], segments[2];
    for (int i = 0; i < 2; ++i) {
        auto enc = kind.encryptor("key");
        headers[i] = enc->beginSegments();
        ByteBuffer segment(100, 'a');
        enc->sealSegment(0, true, outerBytes, segment);
        segments[i].assign(segment.begin(), segment.end());
    }
    EXPECT_NE(headers[0].substr(5, 16), headers[1].substr(5, 16)) << "salt repeated";
    EXPECT_NE(segments[0], segments[1]);
}

INSTANTIATE_TEST_SUITE_P(AllCiphers, CipherTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Cipher, BodyOfAnotherCipherIsRefused)
{
    const std::string body = encrypt(kKinds[1], "key", "some archive bytes");
    const Decrypted d = decrypt(kKinds[2], "key", body);
    EXPECT_TRUE(d.failed);
    EXPECT_EQ(d.all, "");
}

TEST(Cipher, ObjectMadeFromTheKeyAloneTakesTheDirectionOfItsFirstCall)
{
    const std::string plain = test::randomBytes(100);
    for (std::size_t i = 0; i < 2; ++i) {
        const CipherKind& kind = kKinds[i];  // Blowfish, AES
        SCOPED_TRACE(kind.name);
        const std::string body = encrypt(kind, "key", plain);
        auto dec = kind.encryptor("key");  // made from the key alone
        std::string got = dec->Decrypt(body);
        got += dec->FinishDecrypt();
        EXPECT_FALSE(dec->failed()) << dec->errorText();
        EXPECT_TRUE(got == plain);

        auto enc = kind.encryptor("key");
        enc->beginSegments();
        EXPECT_THROW(enc->Decrypt("x"), RuntimeException) << "the direction stays once taken";
    }
}

TEST(Cipher, MisuseRaises)
{
    EXPECT_THROW(Serpent("k", 0, 1), RuntimeException);
    EXPECT_THROW(Serpent("k", 2, 2), RuntimeException);

    AES_CBC decryptor("k", true);
    EXPECT_THROW(decryptor.beginSegments(), RuntimeException);
    Serpent encryptor("k", 0, 2);
    EXPECT_THROW(encryptor.Decrypt("x"), RuntimeException);
    EXPECT_THROW(encryptor.beginSegments(100), RuntimeException) << "not a segment size a reader takes";
    encryptor.beginSegments();
    EXPECT_THROW(encryptor.beginSegments(), RuntimeException) << "the body has begun";
    Serpent finished("k", 1, 2);
    finished.FinishDecrypt();
    EXPECT_THROW(finished.Decrypt("x"), RuntimeException) << "used after its finishing call";
}

} // namespace
} // namespace lv
