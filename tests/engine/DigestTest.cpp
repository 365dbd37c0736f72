#include <gtest/gtest.h>

#include <botan/hash.h>
#include <botan/hex.h>

#include "engine/crypto/SHA_512.h"
#include "support/TempDir.h"

namespace lv {
namespace {

std::string digestOf(std::string_view key)
{
    SHA_512 sha;
    sha.Update(key);
    return sha.Final();
}

std::string hex(const std::string& bytes)
{
    return Botan::hex_encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), false);
}

TEST(KeyDigest, SameKeySameBytesAndKeysDifferingInCaseDiffer)
{
    const std::string a = digestOf("Tr0ub4dor&3");
    EXPECT_EQ(a.size(), 64u);
    EXPECT_EQ(digestOf("Tr0ub4dor&3"), a);

    SHA_512 pieces;
    pieces.Update("Tr0ub4");
    pieces.Update("dor&3");
    EXPECT_EQ(pieces.Final(), a) << "pieces of one key are joined";
    pieces.Update("Tr0ub4dor&3");
    EXPECT_EQ(pieces.Final(), a) << "Final starts the object afresh";

    for (std::string_view other : {"tr0ub4dor&3", "TR0UB4DOR&3", "Tr0ub4dor&3 ", ""})
        EXPECT_NE(digestOf(other), a) << other;
}

TEST(KeyDigest, IsStretchedNotAPlainHashOfTheKey)
{
    const auto plain = Botan::HashFunction::create_or_throw("SHA-512")->process("secret");
    EXPECT_NE(hex(digestOf("secret")), Botan::hex_encode(plain, false));
}

TEST(KeyDigest, MatchesTheReferenceArgon2idTool)
{
    // SHA-512 over Argon2id(key, "Lockvane key digest v1", 64 MiB, 3 passes, 1 lane, 64 bytes),
    // computed by the reference argon2 command; stored headers depend on this never changing.
    if (test::runCommand("command -v argon2 >/dev/null") != 0)
        GTEST_SKIP() << "argon2 command not installed";
    test::TempDir dir;
    for (std::string_view key : {"secret", "Schl\xc3\xbcssel mit Leerzeichen"}) {
        SCOPED_TRACE(key);
        test::writeFile(dir / "key", key);
        std::string expected;
        ASSERT_EQ(test::runCommand("argon2 'Lockvane key digest v1' -id -t 3 -m 16 -p 1 -l 64 -r < "
                                       + test::shellQuote((dir / "key").string())
                                       + " | python3 -c \"import sys, hashlib; "
                                         "print(hashlib.sha512(bytes.fromhex(sys.stdin.read().strip())).hexdigest())\"",
                                   &expected),
                  0);
        EXPECT_EQ(hex(digestOf(key)) + "\n", expected);
    }
}

} // namespace
} // namespace lv
