#pragma once
// The three ciphers of the encrypted file's body.
//
// Two body formats (ours, the same for every cipher; doc/format.md gives them byte for byte):
//  1 "LVB1" | cipher id (1 byte) | salt (16 bytes) | IV (one cipher block)
//    | CBC ciphertext with PKCS#7 padding | HMAC-SHA-512 tag (64 bytes) over everything before it.
//    The cipher key and the 64-byte MAC key are one Argon2id output (64 MiB, 3 passes) over the
//    key's bytes with the salt. Written by earlier versions: read, never written.
//  2 "LVB2" | cipher id (1 byte) | salt (16 bytes) | segment size (4 bytes, big-endian)
//    | segments. The plaintext is cut into segments of that size (the last one shorter, or empty
//    for an empty plaintext); each is enciphered in CBC under a key, MAC key and IV of its own
//    (HKDF-SHA-512 over the Argon2id output and the segment's index), with PKCS#7 padding on the
//    last one only, and followed by a tag of its own binding the body's header, the file's outer
//    header, the index and a last-segment flag. Segments can be sealed and opened on any thread,
//    in any order; nothing of one is released before its tag is checked. What new files get.
// The streaming calls (Decrypt/FinishDecrypt) and the block calls below read format 1; the
// segment calls read and write format 2.
//
// Decrypting format 1 streams without holding the body: Decrypt returns the plaintext of every
// block that can no longer be the last one, at once and NOT yet authenticated, holding back the
// final block and the tag. FinishDecrypt checks the tag in constant time and only then returns
// the final, padding-bearing block. A wrong key, a changed byte, a body of another cipher or a
// body cut short make FinishDecrypt return "" with `failed()` true; the caller must then discard
// everything Decrypt returned. A header that is not ours sets `failed()` as soon as it is read,
// and Decrypt returns nothing more.
//
// One object serves one body in one direction: the one it was made for, or, for an object made
// from the key alone, the one its first call takes (beginSegments encrypts). Using it the other
// way, or after its finishing call, raises RuntimeException. Key material is wiped once derived
// and when the object goes.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteBuffer.h"

namespace lv {

class BodyCipher {
public:
    virtual ~BodyCipher();
    BodyCipher(const BodyCipher&) = delete;
    BodyCipher& operator=(const BodyCipher&) = delete;

    // Format 1: the plaintext ready so far for the next piece of the body ...
    std::string Decrypt(std::string_view piece);
    // ... and the rest. Afterwards `failed()` tells whether the body was authentic.
    std::string FinishDecrypt();
    bool failed() const noexcept;
    // A text for the failure, "" when none.
    std::string errorText() const;
    // Decrypting: the key was found to match the file's key digest (KeyCheck), so a body that
    // is not authentic is damaged, and its failure says so rather than blaming the key.
    void setKeyVerified() noexcept;
    // The reason given for a body (or a segment) that is not authentic.
    const char* notAuthenticText() const noexcept;

    // --- Pipelined decryption of format 1: the same body, with the cipher and the MAC driven
    // apart (each by one thread at a time, the two at once), over whole blocks in place, without
    // copies. Either this or the calls above, never both on one object.
    static constexpr std::size_t TagSize = 64;
    std::size_t blockSize() const noexcept;
    // Bytes of the body's own header (format 1: format tag, cipher, salt, IV; format 2 once
    // begun: its 25 bytes).
    std::size_t headerSize() const noexcept;
    // Takes the body's header (headerSize bytes, of either format) and derives the keys; false
    // (and failed) when it is not a header of this cipher.
    bool beginDecrypting(std::span<const std::uint8_t> header);
    // Deciphers whole blocks in place, continuing the chain.
    void decipherBlocks(std::span<std::uint8_t> blocks);
    // Feeds ciphertext to the MAC, in body order.
    void authenticate(std::span<const std::uint8_t> ciphertext);
    // What follows the deciphered blocks, which must be the last cipher block and the tag. The
    // tag is checked in constant time first; then the plaintext of that block without its
    // padding. nullopt, and failed, when the body is incomplete or not authentic.
    std::optional<std::string> finishDecrypting(std::span<const std::uint8_t> tail);
    // The same in two halves, so that the tag can be checked behind the deciphering (each half
    // on its own thread; the first touches only the cipher, the second only the MAC):
    // the plaintext of the last block without its padding, not yet known to be authentic
    // (nullopt with the reason in `error` when it is badly padded or `tail` is short) ...
    std::optional<std::string> decipherLastBlock(std::span<const std::uint8_t> tail, std::string& error);
    // ... and, once every block before `tail` went into the MAC, the tag checked in constant
    // time: false, and failed, when the body is incomplete or not authentic.
    bool checkTag(std::span<const std::uint8_t> tail);

    // --- Format 2, in segments. After beginSegments (encrypting) or a beginDecrypting that read
    // a format-2 header, the calls below are const and may run on many threads at once.
    static constexpr std::size_t SegmentTagSize = 32;
    static constexpr std::size_t DefaultSegmentSize = std::size_t(1) << 20;
    // The longest header of any format, for a reader that does not know the format yet.
    static constexpr std::size_t MaxHeaderSize = 4 + 1 + 16 + 16;
    // Encrypting: the format-2 body's header, first.
    std::string beginSegments(std::size_t segmentSize = DefaultSegmentSize);
    // The body in hand is of format 2.
    bool segmented() const noexcept;
    // Plaintext bytes per segment; each but the last has exactly that many.
    std::size_t segmentSize() const noexcept;
    // Room a segment needs: its longest ciphertext and its tag.
    std::size_t segmentCapacity() const noexcept;
    // Plaintext in `segment` (segmentSize bytes, fewer only for the last) becomes the segment as
    // stored: ciphertext, then tag. `outerHeader` is the file's header in front of the body.
    void sealSegment(std::uint64_t index, bool last, std::span<const std::uint8_t> outerHeader,
                     ByteBuffer& segment) const;
    // The segment as stored becomes its plaintext; false, and the segment wiped, when it is not
    // the authentic segment `index` (with `last`) of this body.
    bool openSegment(std::uint64_t index, bool last, std::span<const std::uint8_t> outerHeader,
                     ByteBuffer& segment) const;
    // The stored length of the segment whose plaintext has `plainBytes` bytes, when it is (not) last.
    std::size_t storedSegmentSize(std::size_t plainBytes, bool last) const noexcept;

protected:
    enum class Algorithm : std::uint8_t { Blowfish = 1, AES = 2, Serpent = 3 };
    enum class Direction { FirstUse, Encrypt, Decrypt };
    BodyCipher(Algorithm algorithm, std::string_view key, Direction direction);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Blowfish with a 448-bit key in CBC mode.
class BlowfishCBC : public BodyCipher {
public:
    // Encrypts or decrypts, as the first call says.
    explicit BlowfishCBC(std::string_view key);
    // Made for decrypting when `decrypting` is true, for encrypting otherwise.
    BlowfishCBC(std::string_view key, bool decrypting);
};

// AES-256 in CBC mode; constructors as for BlowfishCBC.
class AES_CBC : public BodyCipher {
public:
    explicit AES_CBC(std::string_view key);
    AES_CBC(std::string_view key, bool decrypting);
};

// Serpent-256 in CBC mode. keyType 0 with mode 2 encrypts, keyType 1 with mode 2 decrypts; any
// other pair raises RuntimeException.
class Serpent : public BodyCipher {
public:
    Serpent(std::string_view key, int keyType, int mode);
};

} // namespace lv
