#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"
#include "platform/ItemStat.h"
#include "platform/MacMetadataStore.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr const char* ForkAttribute = "user.com.apple.ResourceFork";
constexpr const char* FinderInfoAttribute = "user.com.apple.FinderInfo";

// Length of an extended attribute, -1 when there is none.
ssize_t attributeLength(const fs::path& file, const char* name)
{
    return ::lgetxattr(file.c_str(), name, nullptr, 0);
}

bool present(const fs::path& p)
{
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

std::vector<std::string> listing(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& item : FolderItem(folder).children())
        names.push_back(item.name());
    return names;
}

FinderInfo textDocument()
{
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    info.setFinderFlags(0x4100);
    info.setScript(0x81);
    return info;
}

// The file systems the store meets: the one the project is built on, tmpfs, and ones without
// user attributes (the test hook, and a real ramfs mount where this machine allows one).
struct Place {
    const char* name;
    const char* base;
    bool disableAttributes;
    bool ramfs;
};

// Whether the file system of `folder` takes user attributes at all (tmpfs only does from
// Linux 6.6 on, some disks are mounted without them).
bool takesUserAttributes(const fs::path& folder)
{
    const fs::path probe = folder / "probe";
    test::writeFile(probe, "");
    const bool ok = ::lsetxattr(probe.c_str(), "user.lockvane.probe", "1", 1, 0) == 0;
    fs::remove(probe);
    return ok;
}

void PrintTo(const Place& p, std::ostream* os)
{
    *os << p.name;
}

class StoreOn : public ::testing::TestWithParam<Place> {
protected:
    void SetUp() override
    {
        const Place& p = GetParam();
        m_temp = std::make_unique<TempDir>(p.base ? fs::path(p.base) : fs::path());
        m_dir = m_temp->path();
        if (p.ramfs) {
            m_dir = m_temp->path() / "ramfs";
            fs::create_directory(m_dir);
            if (::mount("ramfs", m_dir.c_str(), "ramfs", 0, nullptr) != 0)
                GTEST_SKIP() << "cannot mount ramfs here: " << std::strerror(errno);
            m_mounted = true;
        }
        m_attributesWork = !p.disableAttributes && takesUserAttributes(m_dir);
        EXPECT_FALSE(p.ramfs && m_attributesWork) << "ramfs took a user attribute";
        MacMetadataStore::setExtendedAttributesDisabledForTesting(p.disableAttributes);
    }
    void TearDown() override
    {
        MacMetadataStore::setExtendedAttributesDisabledForTesting(false);
        if (m_mounted) {
            EXPECT_EQ(::umount(m_dir.c_str()), 0) << std::strerror(errno);
        }
    }

    std::unique_ptr<TempDir> m_temp;
    fs::path m_dir;
    bool m_mounted = false;
    bool m_attributesWork = false;
};

TEST_P(StoreOn, RoundTripsForksAndFinderInfoAndKeepsOneCopy)
{
    const fs::path file = m_dir / "Report";
    const fs::path companion = m_dir / "._Report";
    test::writeFile(file, "data fork");

    // 2 KB fits an attribute where there are any; 100 KB never does. Going back and forth
    // checks that the stale copy in the other store goes each time.
    for (const std::size_t size : {std::size_t(2048), std::size_t(100 * 1024), std::size_t(2048)}) {
        SCOPED_TRACE(size);
        const std::string fork = test::randomBytes(size, unsigned(size));
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, fork)) << std::strerror(errno);
        EXPECT_EQ(MacMetadataStore::readResourceFork(file), fork);
        EXPECT_EQ(MacMetadataStore::resourceForkLength(file), size);
        const bool inAttribute = m_attributesWork && size == 2048;
        EXPECT_EQ(attributeLength(file, ForkAttribute) == ssize_t(size), inAttribute);
        EXPECT_EQ(present(companion), !inAttribute);
    }

    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(file, textDocument()));
    const auto info = MacMetadataStore::readFinderInfo(file);
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, textDocument());
    EXPECT_EQ(FolderItem(file).macType(), "TEXT");
    EXPECT_EQ(FolderItem(file).macCreator(), "ttxt");
    EXPECT_EQ(present(companion), !m_attributesWork);
    EXPECT_EQ(test::readFile(file), "data fork");
    EXPECT_EQ(listing(m_dir), std::vector<std::string>{"Report"});

    // Emptying both leaves nothing behind.
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, ""));
    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(file, FinderInfo()));
    EXPECT_FALSE(MacMetadataStore::readResourceFork(file));
    EXPECT_FALSE(MacMetadataStore::readFinderInfo(file));
    EXPECT_EQ(MacMetadataStore::resourceForkLength(file), 0u);
    EXPECT_FALSE(present(companion));
    EXPECT_LT(attributeLength(file, ForkAttribute), 0);
    EXPECT_LT(attributeLength(file, FinderInfoAttribute), 0);
}

TEST_P(StoreOn, AFolderListingAndOneProbeTellWhatTheReadersTell)
{
    const fs::path file = m_dir / "Report";
    test::writeFile(file, "data fork");
    test::writeFile(m_dir / "plain", "p");
    const auto listed = [&](const std::string& name) {
        std::vector<ListedItem> items;
        EXPECT_EQ(listFolder(m_dir, items), 0);
        for (const ListedItem& item : items)
            if (item.name == name)
                return item;
        ADD_FAILURE() << name << " not listed";
        return ListedItem{};
    };
    const MacMetadataStore::Probe none = MacMetadataStore::probe(file, true);
    EXPECT_FALSE(none.finderInfo);
    EXPECT_EQ(none.forkLength, 0u);

    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(file, textDocument()));
    for (const std::size_t size : {std::size_t(2048), std::size_t(100 * 1024)}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, test::randomBytes(size, 4)));
        const ListedItem item = listed("Report");
        EXPECT_EQ(item.stat.kind, FolderItem::Kind::File);
        EXPECT_EQ(item.stat.length, 9u);
        EXPECT_EQ(item.companionListed, present(m_dir / "._Report"));
        const MacMetadataStore::Probe probe = MacMetadataStore::probe(file, item.companionListed);
        EXPECT_EQ(probe.finderInfo, MacMetadataStore::readFinderInfo(file));
        EXPECT_EQ(probe.forkLength, size);
        EXPECT_FALSE(listed("plain").companionListed);
    }
    std::vector<ListedItem> items;
    ASSERT_EQ(listFolder(m_dir, items), 0);
    std::vector<std::string> names;
    for (const ListedItem& item : items)
        names.push_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Report", "plain"}));
}

TEST_P(StoreOn, FolderMetadataAndRemoval)
{
    const fs::path folder = m_dir / "Folder";
    fs::create_directory(folder);
    const std::string fork = test::randomBytes(100 * 1024);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(folder, fork));
    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(folder, textDocument()));
    EXPECT_EQ(MacMetadataStore::readResourceFork(folder), fork);
    EXPECT_EQ(listing(m_dir), std::vector<std::string>{"Folder"});

    FolderItem item(folder);
    ASSERT_TRUE(item.remove());
    EXPECT_FALSE(present(m_dir / "._Folder"));
    EXPECT_TRUE(listing(m_dir).empty());
    // A companion must never outlive its partner as that partner's metadata.
    EXPECT_FALSE(MacMetadataStore::readResourceFork(folder));
}

// The archiving walk reads a file by its path, the extraction writes it through its folder's
// descriptor: both reach it at any depth, in either store.
TEST_P(StoreOn, AFileBeyondTheLongestPathIsReachedByPathAndThroughItsFolder)
{
    const std::string part(200, 'd');
    fs::path folder = m_dir;
    FileDescriptor fd(::open(m_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(::mkdirat(fd.get(), part.c_str(), 0755), 0);
        fd.reset(::openat(fd.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        folder /= part;
    }
    ASSERT_GT(folder.native().size(), std::size_t(PATH_MAX));
    FileDescriptor file(::openat(fd.get(), "Report", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    ASSERT_TRUE(file);
    const MacMetadataStore::InFolder inFolder{fd.get(), "Report"};
    const MacMetadataStore::InFolder open{fd.get(), "Report", file.get()};

    for (const std::size_t size : {std::size_t(2048), std::size_t(100 * 1024)}) {
        SCOPED_TRACE(size);
        const std::string fork = test::randomBytes(size, unsigned(size));
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(size == 2048 ? open : inFolder, fork)) << std::strerror(errno);
        ASSERT_TRUE(MacMetadataStore::writeFinderInfo(inFolder, textDocument()));
        EXPECT_EQ(MacMetadataStore::readResourceFork(folder / "Report"), fork);
        EXPECT_EQ(MacMetadataStore::readFinderInfo(folder / "Report"), textDocument());
        EXPECT_EQ(MacMetadataStore::probe(folder / "Report", true).forkLength, size);
        int err = 0;
        EXPECT_EQ(MacMetadataStore::readResourceFork(inFolder, err), fork);
        EXPECT_EQ(err, 0);
    }
    MacMetadataStore::removeAll(inFolder);
    EXPECT_FALSE(MacMetadataStore::readResourceFork(folder / "Report"));
    EXPECT_FALSE(MacMetadataStore::readFinderInfo(folder / "Report"));
    EXPECT_EQ(::faccessat(fd.get(), "._Report", F_OK, AT_SYMLINK_NOFOLLOW), -1) << "the companion went too";
}

INSTANTIATE_TEST_SUITE_P(, StoreOn,
                         ::testing::Values(Place{"WorkingFolder", LOCKVANE_BINARY_DIR, false, false},
                                           Place{"DevShm", "/dev/shm", false, false},
                                           Place{"AttributesRefused", nullptr, true, false},
                                           Place{"Ramfs", nullptr, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

class StoreWithoutAttributes : public ::testing::Test {
protected:
    void SetUp() override { MacMetadataStore::setExtendedAttributesDisabledForTesting(true); }
    void TearDown() override { MacMetadataStore::setExtendedAttributesDisabledForTesting(false); }
    TempDir m_dir;
};

TEST_F(StoreWithoutAttributes, CompanionIsAppleDoubleVersion2)
{
    const fs::path file = m_dir / "Doc";
    test::writeFile(file, "x");
    const std::string fork = test::randomBytes(3000);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, fork));
    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(file, textDocument()));
    test::writeFile(m_dir / "fork", fork);

    // Read back by an independent parser: magic, version, entries and their bytes.
    const std::string script =
        "import struct,sys\n"
        "d=open(sys.argv[1],'rb').read()\n"
        "m,v=struct.unpack('>II',d[:8]); n,=struct.unpack('>H',d[24:26])\n"
        "assert (m,v)==(0x00051607,0x00020000) and d[8:24]==bytes(16), (hex(m),hex(v))\n"
        "e={}\n"
        "for i in range(n):\n"
        "  k,o,l=struct.unpack('>III',d[26+12*i:38+12*i]); e[k]=d[o:o+l]\n"
        "assert sorted(e)==[2,9], sorted(e)\n"
        "assert e[2]==open(sys.argv[2],'rb').read()\n"
        "assert e[9]==b'TEXTttxt\\x41\\x00'+bytes(14)+b'\\x81'+bytes(7), e[9]\n";
    test::writeFile(m_dir / "check.py", script);
    std::string out;
    EXPECT_EQ(test::runCommand("python3 " + test::shellQuote((m_dir / "check.py").string()) + " " +
                                   test::shellQuote((m_dir / "._Doc").string()) + " " +
                                   test::shellQuote((m_dir / "fork").string()) + " 2>&1",
                               &out),
              0)
        << out;
}

TEST_F(StoreWithoutAttributes, ReadsAndUpdatesACompanionMadeByMacOS)
{
    // The companion the macOS Archive Utility wrote: "Mac OS X" filler, a 237-byte Finder
    // information entry with packed attributes behind the 32 bytes, an empty resource fork.
    std::string out;
    ASSERT_EQ(test::runCommand("python3 -c " +
                                   test::shellQuote("import zipfile,sys; sys.stdout.buffer.write(zipfile.ZipFile('" +
                                                    std::string(LOCKVANE_SOURCE_DIR) +
                                                    "/tests/fixtures/zip/macos-appledouble.zip').read('__MACOSX/._file3'))"),
                               &out),
              0);
    ASSERT_EQ(out.size(), 287u);
    out.replace(50, 8, "TEXTttxt");  // type and creator in the Finder information entry
    const fs::path file = m_dir / "file3";
    test::writeFile(file, "contents");
    test::writeFile(m_dir / "._file3", out);

    EXPECT_EQ(FolderItem(file).macType(), "TEXT");
    EXPECT_EQ(FolderItem(file).macCreator(), "ttxt");
    EXPECT_FALSE(MacMetadataStore::readResourceFork(file));
    EXPECT_EQ(listing(m_dir.path()), std::vector<std::string>{"file3"});

    const std::string fork = test::randomBytes(500);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, fork));
    EXPECT_EQ(MacMetadataStore::readResourceFork(file), fork);
    EXPECT_EQ(FolderItem(file).macType(), "TEXT");
}

TEST_F(StoreWithoutAttributes, ForeignOrDamagedCompanionIsNeitherReadNorOverwritten)
{
    const std::string header = std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + std::string(16, '\0');
    const auto descriptor = [](std::uint32_t id, std::uint32_t offset, std::uint32_t length) {
        std::string d;
        for (std::uint32_t v : {id, offset, length})
            for (int s = 24; s >= 0; s -= 8)
                d += char((v >> s) & 0xFF);
        return d;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not AppleDouble", "just a file the user keeps"},
        {"cut inside the header", header.substr(0, 20)},
        {"more entries than bytes", header + std::string("\xFF\xFF", 2) + descriptor(2, 0, 0)},
        {"entry past the end", header + std::string("\x00\x01", 2) + descriptor(2, 38, 5000) + "abc"},
        {"offset wraps", header + std::string("\x00\x01", 2) + descriptor(2, 0xFFFFFFF0, 0x20)},
    };
    const fs::path file = m_dir / "Doc";
    test::writeFile(file, "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(m_dir / "._Doc", c.bytes);
        EXPECT_FALSE(MacMetadataStore::readResourceFork(file));
        EXPECT_EQ(MacMetadataStore::resourceForkLength(file), 0u);
        EXPECT_FALSE(MacMetadataStore::readFinderInfo(file));
        errno = 0;
        EXPECT_FALSE(MacMetadataStore::writeResourceFork(file, "fork"));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(test::readFile(m_dir / "._Doc"), c.bytes);
        // Deleting the partner leaves somebody else's file alone.
        FolderItem(file).remove();
        EXPECT_TRUE(present(m_dir / "._Doc"));
        test::writeFile(file, "x");
    }

    // A FIFO there must not make a reader wait.
    fs::remove(m_dir / "._Doc");
    ASSERT_EQ(::mkfifo((m_dir / "._Doc").c_str(), 0600), 0);
    EXPECT_FALSE(MacMetadataStore::readResourceFork(file));
    EXPECT_FALSE(MacMetadataStore::writeResourceFork(file, "fork"));
}

TEST(MacMetadataStore, NoMetadataForMissingFilesOrThroughLinks)
{
    TempDir dir;
    const fs::path target = dir / "target";
    test::writeFile(target, "x");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(target, "target fork"));
    fs::create_symlink("target", dir / "link");

    // The link's metadata is its own: it shows none of the target's, and a write to it never
    // lands on the target.
    EXPECT_FALSE(MacMetadataStore::readResourceFork(dir / "link"));
    MacMetadataStore::writeResourceFork(dir / "link", "link fork");
    EXPECT_EQ(MacMetadataStore::readResourceFork(target), "target fork");

    errno = 0;
    EXPECT_FALSE(MacMetadataStore::writeResourceFork(dir / "missing", "fork"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(present(dir / "._missing"));
}

} // namespace
} // namespace lv
