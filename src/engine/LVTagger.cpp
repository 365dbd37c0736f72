#include "engine/LVTagger.h"

#include <botan/mem_ops.h>

#include <cerrno>
#include <chrono>

#include "engine/CipherSuite.h"
#include "engine/crypto/SHA_512.h"
#include "platform/Thread.h"

namespace lv {

namespace {

// How long CreateTag keeps trying to open a file it cannot open for the moment.
constexpr int OpenAttempts = 50;
constexpr std::chrono::milliseconds OpenRetryDelay{100};

// Open failures that may go away by themselves (no descriptors or memory left for a moment).
bool isTransient(int err)
{
    return err == EMFILE || err == ENFILE || err == EINTR || err == EAGAIN || err == EBUSY || err == ETXTBSY ||
           err == ENOMEM;
}

std::string cipherRecord(std::string_view cipherName)
{
    const int code = CipherSuite::codeOf(cipherName);
    return code < 0 ? std::string() : "<x>" + std::to_string(code) + "</x>";
}

void appendRecord(std::string& out, std::string_view bytes)
{
    out.push_back(char(std::uint8_t(bytes.size())));
    out.append(bytes);
}

// The digits that directly follow "<FileTypeVersion>"; 0 when there are none.
std::int32_t versionOf(std::string_view record)
{
    constexpr std::string_view open = "<FileTypeVersion>";
    const auto at = record.find(open);
    if (at == std::string_view::npos) return 0;
    std::int64_t v = 0;
    for (auto i = at + open.size(); i < record.size() && record[i] >= '0' && record[i] <= '9'; ++i) {
        v = v * 10 + (record[i] - '0');
        if (v > INT32_MAX) return INT32_MAX;
    }
    return std::int32_t(v);
}

} // namespace

LVTagger::~LVTagger()
{
    if (!q.empty()) Botan::secure_scrub_memory(q.data(), q.size());
}

std::string LVTagger::ParseLine(std::string_view line, std::string_view name)
{
    std::string open = "<", close = "</";
    open.append(name).push_back('>');
    close.append(name).push_back('>');
    const auto a = line.find(open);
    if (a == std::string_view::npos) return {};
    const auto start = a + open.size();
    const auto b = line.find(close);
    if (b == std::string_view::npos || b < start) return {};
    return std::string(line.substr(start, b - start));
}

std::string LVTagger::headerBytes(std::string_view cipherName, std::string_view digest)
{
    std::string out;
    appendRecord(out, Tag);
    appendRecord(out, VersionRecord);
    appendRecord(out, cipherRecord(cipherName));
    appendRecord(out, digest);
    return out;
}

bool LVTagger::CheckTag(const FolderItem& f)
{
    if (!f.isFile()) return false;
    BinaryStreamPtr in = f.openAsBinaryFile(false);
    if (!in) return false;
    const std::string tag = in->readPString();
    if (in->hadError() || tag != Tag) return false;
    const std::string version = in->readPString();
    const std::string cipher = in->readPString();
    std::string digest = in->readPString();
    // A header cut short gives no fields: a reader would take body bytes for the digest.
    if (in->hadError()) return false;

    IsLockvane = true;
    FileTypeVersion = versionOf(version);
    // An unknown code names no cipher; the previous file's cipher must not stay in its place.
    const std::string code = ParseLine(cipher, "x");
    EncryptionType = code.size() == 1 ? CipherSuite::nameOf(code[0] - '0') : std::string();
    q = std::move(digest);
    TagLength = std::int32_t(in->position());
    return true;
}

bool LVTagger::CreateTag(const FolderItem& f)
{
    if (!CipherSuite::isKnown(EncryptionType)) return false;
    SHA_512 hash;
    hash.Update(q);
    std::string digest = hash.Final();
    if (!q.empty()) Botan::secure_scrub_memory(q.data(), q.size());
    q = std::move(digest);
    return CreateTagWithDigest(f);
}

bool LVTagger::CreateTagWithDigest(const FolderItem& f)
{
    if (!CipherSuite::isKnown(EncryptionType)) return false;
    BinaryStreamPtr out;
    for (int attempt = 1; !(out = f.openAsBinaryFile(true)); ++attempt) {
        if (attempt >= OpenAttempts || !isTransient(f.lastErrorCode())) return false;
        Thread::sleepFor(OpenRetryDelay);
    }
    out->setPosition(0);
    const std::string header = headerBytes(EncryptionType, q);
    const bool written = q.size() <= 255 && out->write(header);
    TagLength = std::int32_t(out->position());
    return out->close() && written;
}

} // namespace lv
