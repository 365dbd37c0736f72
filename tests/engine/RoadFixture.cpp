#include "RoadFixture.h"

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

#include "engine/CipherSuite.h"
#include "engine/KeyCheck.h"
#include "engine/crypto/SHA_512.h"
#include "platform/MacMetadataStore.h"
#include "zip/SeqStreams.h"

namespace lv::test {

namespace fs = std::filesystem;

constexpr auto Generous = std::chrono::seconds(120);

void Pause::reach()
{
    std::unique_lock lock(m_mutex);
    if (m_reached) return;
    m_reached = true;
    m_changed.notify_all();
    m_changed.wait_for(lock, Generous, [this] { return m_released; });
}

bool Pause::waitReached()
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, Generous, [this] { return m_reached; });
}

void Pause::release()
{
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
}

void PausingGui::pauseAtFirstValueAfter(std::string status)
{
    std::lock_guard lock(m_mutex);
    m_trigger = std::move(status);
}

void PausingGui::setText(const std::string& text)
{
    RecordingGui::setText(text);
    std::lock_guard lock(m_mutex);
    if (!m_trigger.empty() && text == m_trigger) m_armed = true;
}

void PausingGui::setValue(std::int32_t value)
{
    RecordingGui::setValue(value);
    bool pauseHere = false;
    {
        std::lock_guard lock(m_mutex);
        pauseHere = m_armed;
        m_armed = false;
    }
    if (pauseHere) m_pause.reach();
}

RoadTest::RoadTest() : work(root / "work"), items(root / "items"), dest(root / "dest")
{
    fs::create_directories(work);
    fs::create_directories(items);
    fs::create_directories(dest);
    // The records of a job's hidden items go into the test's own folder.
    if (const char* value = std::getenv("XDG_STATE_HOME")) m_savedStateHome = value;
    ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
}

RoadTest::~RoadTest()
{
    gui.pause().release();
    ZipThread::setStepHookForTesting(nullptr);
    enc.Kill();
    enc.waitForJob();
    m_savedStateHome ? ::setenv("XDG_STATE_HOME", m_savedStateHome->c_str(), 1) : ::unsetenv("XDG_STATE_HOME");
}

JobSettings RoadTest::settings(bool compress) const
{
    JobSettings s;
    s.compress = compress;
    s.notificationsOn = true;
    s.bounce = true;
    s.workFolder = FolderItem(work);
    return s;
}

void RoadTest::startEncrypt(const std::vector<FolderItem>& list, const FolderItem& target, const std::string& cipher,
                            bool compress, const std::string& key)
{
    enc.Encrypt(list, target, cipher, key, arc, gui.controls(), settings(compress));
}

void RoadTest::startDecrypt(const FolderItem& file, const FolderItem& destFolder, const std::string& key)
{
    LVTagger header;
    header.CheckTag(file);
    // As the key sheet does, but a key that does not match goes on to the job all the same.
    KeyCheckResult check = checkKeyForDecryption(file, header, key);
    enc.Decrypt(file, destFolder, header.EncryptionType, key, header, arc, gui.controls(), settings(),
                std::move(check.body));
}

JobOutcome RoadTest::encrypt(const std::vector<FolderItem>& list, const FolderItem& target, const std::string& cipher,
                             bool compress, const std::string& key)
{
    startEncrypt(list, target, cipher, compress, key);
    return enc.waitForJob();
}

JobOutcome RoadTest::decrypt(const FolderItem& file, const FolderItem& destFolder, const std::string& key)
{
    startDecrypt(file, destFolder, key);
    return enc.waitForJob();
}

std::vector<std::string> RoadTest::workLeftovers() const
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work)) names.push_back(e.path().filename().string());
    return names;
}

std::vector<std::string> RoadTest::leftoverRecords() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root / "state" / "lockvane" / "leftovers", ec))
        names.push_back(e.path().filename().string());
    return names;
}

std::vector<std::string> RoadTest::shape() const
{
    std::vector<std::string> out;
    for (const std::string& e : gui.events()) {
        if (e.starts_with("value: ")) continue;
        if (e.starts_with("max: ") && std::stoll(e.substr(5)) > 1)
            out.push_back("max: *");
        else
            out.push_back(e);
    }
    return out;
}

fs::path encryptedArchive(const fs::path& out, const std::function<void(ZipArchive&)>& build)
{
    const fs::path zip = out.parent_path() / (out.filename().string() + ".zip");
    {
        ZipArchive archive;
        EXPECT_TRUE(archive.Open(FolderItem(zip), true)) << archive.ErrorMessage();
        build(archive);
        EXPECT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    SHA_512 digest;
    digest.Update("key");
    auto cipher = CipherSuite::makeEncryptor("AES", "key");
    const std::string outer = LVTagger::headerBytes("AES", digest.Final());
    std::string bytes = outer + cipher->beginSegments();
    const std::string plain = readFile(zip);
    const std::size_t size = cipher->segmentSize();
    const std::size_t count = std::max<std::size_t>(1, (plain.size() + size - 1) / size);
    for (std::size_t i = 0; i < count; ++i) {
        const auto from = plain.begin() + std::ptrdiff_t(std::min(plain.size(), i * size));
        ByteBuffer segment(from, plain.begin() + std::ptrdiff_t(std::min(plain.size(), (i + 1) * size)));
        cipher->sealSegment(i, i + 1 == count,
                            std::span(reinterpret_cast<const std::uint8_t*>(outer.data()), outer.size()), segment);
        bytes.append(segment.begin(), segment.end());
    }
    writeFile(out, bytes);
    fs::remove(zip);
    return out;
}

void addEntry(ZipArchive& archive, const std::string& name, const std::string& bytes, std::optional<std::uint32_t> mode)
{
    const fs::path data = fs::temp_directory_path() / ("lvtest-entry-" + std::to_string(::getpid()));
    writeFile(data, bytes);
    FileReader reader{FolderItem(data)};
    const std::int32_t index = archive.AddItemByStreams(name.ends_with('/') ? nullptr : &reader,
                                                        std::int64_t(bytes.size()), nullptr, 0, std::nullopt, name,
                                                        nullptr, std::nullopt);
    fs::remove(data);
    ASSERT_GE(index, 1) << archive.ErrorMessage();
    if (mode) {
        archive.Entry(index)->SetOSMadeBy(3);
        archive.Entry(index)->SetExternalFileAttributes(std::int32_t(*mode << 16));
    }
}

std::vector<FolderItem> makeFixtureTree(const fs::path& dir)
{
    const fs::path tree = dir / "Tree";
    fs::create_directories(tree / "Sub" / "nested");
    fs::create_directories(tree / "Empty");

    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "Line " + std::to_string(i) + " of a text-like file.\n";
    writeFile(tree / "readme.txt", text);
    writeFile(tree / "Sub" / "nested" / "random.bin", randomBytes(200000, 7));
    writeFile(tree / "Ünïcødé näme.txt", "unicode name");
    writeFile(tree / "Forked", "the data fork");
    FolderItem forked(tree / "Forked");
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    EXPECT_TRUE(forked.setFinderInfo(info));
    EXPECT_TRUE(MacMetadataStore::writeResourceFork(tree / "Forked", randomBytes(10000, 9)));
    writeFile(dir / "loose.bin", randomBytes(170000, 3));

    // A folder of its own mode; folders get their dates once nothing more is made in them.
    fs::permissions(tree / "Sub", fs::perms(0750));
    std::int64_t date = 1600000000;  // even seconds: zip dates keep two-second steps
    for (const auto& e : fs::recursive_directory_iterator(tree))
        if (!e.path().filename().string().starts_with("._"))
            FolderItem(e.path()).setModificationDate(date += 2);
    FolderItem(tree).setModificationDate(date += 2);
    FolderItem(dir / "loose.bin").setModificationDate(date + 2);
    return {FolderItem(tree), FolderItem(dir / "loose.bin")};
}

namespace {

std::vector<fs::path> listing(const fs::path& top)
{
    std::vector<fs::path> out;
    if (!fs::is_directory(top)) return out;
    for (const auto& e : fs::recursive_directory_iterator(top))
        if (!e.path().filename().string().starts_with("._")) out.push_back(fs::relative(e.path(), top));
    std::sort(out.begin(), out.end());
    return out;
}

void expectSameItem(const fs::path& a, const fs::path& b)
{
    SCOPED_TRACE(b.string());
    ASSERT_EQ(fs::is_directory(a), fs::is_directory(b));
    const FolderItem fa(a), fb(b);
    if (fs::is_directory(a)) {
        // A folder's Finder information is not kept; its mode and date are. Zip dates keep
        // two-second steps, and a folder's may have been any second.
        EXPECT_EQ(fa.mode(), fb.mode());
        const auto da = fa.modificationDate(), db = fb.modificationDate();
        ASSERT_TRUE(da && db);
        EXPECT_LE(std::abs(*da - *db), 1) << *da << " " << *db;
        return;
    }
    EXPECT_EQ(readFile(a), readFile(b));
    EXPECT_EQ(fa.modificationDate(), fb.modificationDate());
    EXPECT_EQ(MacMetadataStore::readResourceFork(a), MacMetadataStore::readResourceFork(b));
    EXPECT_EQ(fa.macType(), fb.macType());
    EXPECT_EQ(fa.macCreator(), fb.macCreator());
}

} // namespace

void expectSameTree(const fs::path& original, const fs::path& copy)
{
    ASSERT_TRUE(fs::exists(copy)) << copy;
    expectSameItem(original, copy);
    const auto names = listing(original);
    EXPECT_EQ(names, listing(copy));
    for (const auto& rel : names) expectSameItem(original / rel, copy / rel);
}

} // namespace lv::test
