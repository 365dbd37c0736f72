#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/Exceptions.h"
#include "platform/FolderItem.h"
#include "platform/LeftoverRecords.h"
#include "platform/MacMetadataStore.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<std::string> names(const FolderItem& folder)
{
    std::vector<std::string> out;
    for (const auto& item : folder.children())
        out.push_back(item.name());
    return out;
}

bool present(const fs::path& p)
{
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// One of each kind of item, and links to them.
struct Zoo {
    TempDir dir;
    Zoo()
    {
        test::writeFile(dir / "file", "abc");
        fs::create_directory(dir / "folder");
        test::writeFile(dir / "folder" / "inside", "1");
        fs::create_symlink("file", dir / "linkToFile");
        fs::create_symlink("folder", dir / "linkToFolder");
        fs::create_symlink("nowhere", dir / "brokenLink");
        EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    }
};

TEST(FolderItem, KindsLengthsAndAliases)
{
    Zoo zoo;
    using K = FolderItem::Kind;
    const struct {
        const char* name;
        K kind;
        std::uint64_t length;
        const char* resolvesTo;  // nullptr: no alias, or a broken one
    } cases[] = {
        {"file", K::File, 3, nullptr},         {"folder", K::Folder, 0, nullptr},
        {"linkToFile", K::Alias, 0, "file"},   {"linkToFolder", K::Alias, 0, "folder"},
        {"brokenLink", K::Alias, 0, nullptr},  {"fifo", K::Other, 0, nullptr},
        {"missing", K::Missing, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FolderItem item(zoo.dir / c.name);
        EXPECT_EQ(item.kind(), c.kind);
        EXPECT_EQ(item.exists(), c.kind != K::Missing);
        EXPECT_EQ(item.length(), c.length);
        const auto target = item.resolveAlias();
        EXPECT_EQ(target.has_value(), c.resolvesTo != nullptr);
        if (target && c.resolvesTo) {
            EXPECT_EQ(target->name(), c.resolvesTo);
        }
    }
    // A folder listing never goes through a link.
    EXPECT_EQ(names(FolderItem(zoo.dir / "folder")), std::vector<std::string>{"inside"});
    EXPECT_TRUE(FolderItem(zoo.dir / "linkToFolder").children().empty());
    EXPECT_TRUE(FolderItem(zoo.dir / "file").children().empty());
}

TEST(FolderItem, NamesAndSortedListingWithoutCompanions)
{
    TempDir dir;
    for (const char* n : {"b", "B", "a", "\xFF\xFEraw", "._B"})
        test::writeFile(dir / n, "");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "a", test::randomBytes(100 * 1024)));  // makes "._a"
    test::writeFile(dir / "._orphan", std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + std::string(18, '\0'));
    fs::create_directory(dir / "._b");

    // Byte order; the companion of "a" hidden; shown: an AppleDouble file without partner and
    // "._" items that are no AppleDouble files, which are the user's own.
    EXPECT_EQ(names(FolderItem(dir.path())),
              (std::vector<std::string>{"._B", "._b", "._orphan", "B", "a", "b", "\xFF\xFEraw"}));

    const FolderItem raw(dir / "\xFF\xFEraw");
    EXPECT_EQ(raw.name(), "\xFF\xFEraw");
    EXPECT_EQ(raw.displayName(), "\xEF\xBF\xBD\xEF\xBF\xBDraw");
    EXPECT_EQ(FolderItem(dir / "x\xC3\xA9").displayName(), "x\xC3\xA9");
    EXPECT_EQ(FolderItem(dir.path().native() + "/sub/").name(), "sub");
    EXPECT_EQ(FolderItem(dir / "a").parent(), FolderItem(dir.path()));
    EXPECT_EQ(FolderItem(dir.path()).child("a"), FolderItem(dir / "a"));
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3)})
        EXPECT_THROW(FolderItem(dir.path()).child(bad), RuntimeException) << bad;
    EXPECT_THROW(FolderItem().child("a"), NilObjectException);
}

TEST(FolderItem, DatesAndPermissions)
{
    TempDir dir;
    const std::int64_t before = std::time(nullptr);
    FolderItem file(dir / "f");
    ASSERT_TRUE(file.createBinaryFile());

    for (const std::int64_t date : {std::int64_t(1'000'000'000), std::int64_t(-86'400), std::int64_t(4'102'444'800)}) {
        ASSERT_TRUE(file.setModificationDate(date));
        EXPECT_EQ(file.modificationDate(), date);
    }
    // The working folder's file system records birth times; setting the modification date
    // leaves it alone.
    const auto created = file.creationDate();
    ASSERT_TRUE(created);
    EXPECT_GE(*created, before - 1);
    EXPECT_LE(*created, std::time(nullptr) + 1);

    ASSERT_TRUE(file.setPermissions(0100640));  // type bits are ignored
    EXPECT_EQ(file.mode(), std::uint32_t(S_IFREG | 0640));
    EXPECT_TRUE(file.isWritable());
    ASSERT_TRUE(file.setPermissions(0444));
    EXPECT_FALSE(file.isWritable());  // locked, for root as well

    // A link has no dates or permissions of its own to set here; its target is not touched.
    fs::create_symlink("f", dir / "link");
    FolderItem link(dir / "link");
    EXPECT_FALSE(link.setPermissions(0777));
    EXPECT_EQ(file.mode() & 07777, 0444u);
    ASSERT_TRUE(link.setModificationDate(1234));
    EXPECT_EQ(link.modificationDate(), 1234);
    EXPECT_EQ(file.modificationDate(), 4'102'444'800);

    const FolderItem missing(dir / "missing");
    EXPECT_FALSE(missing.modificationDate());
    EXPECT_FALSE(missing.creationDate());
    EXPECT_EQ(missing.mode(), 0u);
    EXPECT_EQ(missing.lastErrorCode(), ENOENT);
    EXPECT_EQ(missing.lastErrorText(), std::strerror(ENOENT));
}

TEST(FolderItem, BinaryFilesAreRegularFilesOnly)
{
    Zoo zoo;
    // The file to be replaced carries a fork (in the companion) and Finder information.
    FolderItem old(zoo.dir / "file");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(old.path(), test::randomBytes(100 * 1024)));
    FinderInfo info;
    info.setType("TEXT");
    ASSERT_TRUE(old.setFinderInfo(info));
    // Creating over each kind: only a missing item or a regular file may be (re)written.
    const struct {
        const char* name;
        bool created;
    } cases[] = {{"new", true},          {"file", true},         {"folder", false},
                 {"linkToFile", false},   {"brokenLink", false},  {"fifo", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FolderItem item(zoo.dir / c.name);
        auto stream = item.createBinaryFile();
        ASSERT_EQ(stream != nullptr, c.created);
        if (stream) {
            EXPECT_EQ(stream->length(), 0u);
            EXPECT_TRUE(stream->write("fresh"));
            EXPECT_TRUE(stream->close());
            EXPECT_EQ(test::readFile(zoo.dir / c.name), "fresh");
        } else {
            EXPECT_NE(item.lastErrorCode(), 0);
        }
    }
    EXPECT_EQ(test::readFile(zoo.dir / "file"), "fresh");
    EXPECT_FALSE(MacMetadataStore::readResourceFork(old.path())) << "the replaced file's fork stayed";
    EXPECT_EQ(old.macType(), std::string(4, '\0'));
    EXPECT_FALSE(present(zoo.dir / "._file"));
    EXPECT_FALSE(present(zoo.dir / "nowhere"));  // nothing was made through the broken link

    auto in = FolderItem(zoo.dir / "file").openAsBinaryFile(false);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->read(100), "fresh");
    EXPECT_FALSE(in->write("x"));
    for (const char* n : {"linkToFile", "fifo", "folder", "missing"}) {
        EXPECT_FALSE(FolderItem(zoo.dir / n).openAsBinaryFile(false)) << n;
        EXPECT_FALSE(FolderItem(zoo.dir / n).openAsBinaryFile(true)) << n;
    }
}

TEST(FolderItem, RemovalTakesCompanionsAndNeverFollowsLinks)
{
    TempDir dir;
    TempDir outside;
    test::writeFile(outside / "keep", "keep");
    test::writeFile(dir / "tree" / "sub" / "deep" / "f", "x");
    fs::create_symlink(outside.path(), dir / "tree" / "sub" / "linkOut");
    test::writeFile(dir / "tree" / "file", "x");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "tree" / "file", test::randomBytes(100 * 1024)));
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "tree", test::randomBytes(100 * 1024)));
    ASSERT_TRUE(present(dir / "._tree"));

    FolderItem tree(dir / "tree");
    EXPECT_FALSE(tree.remove());
    EXPECT_EQ(tree.lastErrorCode(), ENOTEMPTY);
    ASSERT_TRUE(tree.removeRecursively());
    EXPECT_FALSE(present(dir / "tree"));
    EXPECT_FALSE(present(dir / "._tree"));
    EXPECT_EQ(test::readFile(outside / "keep"), "keep");

    fs::create_symlink(outside.path(), dir / "link");
    ASSERT_TRUE(FolderItem(dir / "link").removeRecursively());
    EXPECT_FALSE(present(dir / "link"));
    EXPECT_EQ(test::readFile(outside / "keep"), "keep");
}

// Builds what the destination of a move may already hold.
void makeObstacle(const fs::path& p, const std::string& kind)
{
    if (kind == "file")
        test::writeFile(p, "obstacle");
    else if (kind == "folder")
        fs::create_directory(p);
    else if (kind == "link")
        fs::create_symlink("obstacle-target", p);
}

TEST(FolderItem, MoveNeverReplacesAnything)
{
    TempDir here;
    TempDir shm("/dev/shm");
    for (const char* sourceKind : {"file", "folder"})
        for (const char* obstacle : {"file", "folder", "link"})
            for (const TempDir* destDir : {&here, &shm}) {
                SCOPED_TRACE(std::string(sourceKind) + " onto " + obstacle + " in " + destDir->path().native());
                const fs::path source = here / "source";
                const fs::path dest = *destDir / "dest";
                if (std::string(sourceKind) == "file")
                    test::writeFile(source, "source");
                else
                    test::writeFile(source / "inner", "source");
                makeObstacle(dest, obstacle);

                FolderItem item(source);
                EXPECT_FALSE(item.moveTo(FolderItem(dest)));
                EXPECT_EQ(item.lastErrorCode(), EEXIST);
                EXPECT_EQ(item.path(), source);
                EXPECT_TRUE(present(source));
                EXPECT_EQ(FolderItem(dest).kind(), std::string(obstacle) == "file"     ? FolderItem::Kind::File
                                                   : std::string(obstacle) == "folder" ? FolderItem::Kind::Folder
                                                                                       : FolderItem::Kind::Alias);
                if (std::string(obstacle) == "file") {
                    EXPECT_EQ(test::readFile(dest), "obstacle");
                }
                EXPECT_EQ(names(FolderItem(destDir->path())).size(), destDir == &here ? 2u : 1u);  // no leftovers
                FolderItem(source).removeRecursively();
                FolderItem(dest).removeRecursively();
            }
}

TEST(FolderItem, MoveOnOneFileSystemTakesTheCompanion)
{
    TempDir dir;
    const std::string fork = test::randomBytes(100 * 1024);
    test::writeFile(dir / "a", "data");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "a", fork));
    fs::create_directory(dir / "sub");

    FolderItem item(dir / "a");
    ASSERT_TRUE(item.moveTo(FolderItem(dir / "sub" / "b")));
    EXPECT_EQ(item.path(), dir / "sub" / "b");
    EXPECT_EQ(MacMetadataStore::readResourceFork(dir / "sub" / "b"), fork);
    EXPECT_TRUE(present(dir / "sub" / "._b"));
    EXPECT_EQ(names(FolderItem(dir.path())), std::vector<std::string>{"sub"});

    // A stale companion at the destination is not replaced either.
    test::writeFile(dir / "c", "data");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "c", fork));
    test::writeFile(dir / "._d", "somebody's");
    FolderItem c(dir / "c");
    EXPECT_FALSE(c.moveTo(FolderItem(dir / "d")));
    EXPECT_EQ(test::readFile(dir / "._d"), "somebody's");
    EXPECT_EQ(MacMetadataStore::readResourceFork(dir / "c"), fork);
}

struct Snapshot {
    std::string data;
    std::optional<std::string> fork;
    FinderInfo info;
    std::optional<std::int64_t> modified;
    std::uint32_t mode;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const FolderItem& item)
{
    return {item.isFile() ? test::readFile(item.path()) : std::string(), MacMetadataStore::readResourceFork(item.path()),
            item.finderInfo(), item.modificationDate(), item.mode()};
}

TEST(FolderItem, MoveAcrossFileSystemsKeepsDataForkDateAndMode)
{
    TempDir shm("/dev/shm");
    TempDir here;
    FinderInfo info;
    info.setType("APPL");
    info.setCreator("LVne");
    // A fork that fits the attributes of both file systems, and one that fits neither.
    for (const std::size_t forkSize : {std::size_t(2048), std::size_t(100 * 1024)}) {
        SCOPED_TRACE(forkSize);
        const fs::path from = shm / "doc";
        test::writeFile(from, test::randomBytes(300 * 1024, 7));
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(from, test::randomBytes(forkSize, 8)));
        FolderItem item(from);
        ASSERT_TRUE(item.setFinderInfo(info));
        ASSERT_TRUE(item.setPermissions(0640));
        ASSERT_TRUE(item.setModificationDate(946'684'800));
        const Snapshot before = snapshot(item);

        // The copy under construction is recorded while it exists, and only then.
        const LeftoverRecords records(here / "records");
        bool recorded = false;
        FolderItem::setCopyHookForTesting([&](const fs::path&) { recorded = !fs::is_empty(here / "records"); });
        ASSERT_TRUE(item.moveTo(FolderItem(here / "doc"), &records)) << item.lastErrorText();
        FolderItem::setCopyHookForTesting(nullptr);
        EXPECT_TRUE(recorded);
        EXPECT_TRUE(fs::is_empty(here / "records"));
        fs::remove(here / "records");
        EXPECT_EQ(item.path(), here / "doc");
        EXPECT_EQ(snapshot(item), before);
        EXPECT_FALSE(present(from));
        EXPECT_FALSE(present(shm / "._doc"));
        EXPECT_EQ(present(here / "._doc"), forkSize > 4096);
        EXPECT_EQ(names(FolderItem(here.path())), std::vector<std::string>{"doc"});
        ASSERT_TRUE(item.remove());
    }
}

TEST(FolderItem, FolderTreeMovesAcrossFileSystems)
{
    TempDir shm("/dev/shm");
    TempDir here;
    const fs::path tree = shm / "tree";
    const std::string fork = test::randomBytes(100 * 1024, 3);
    test::writeFile(tree / "a", "alpha");
    test::writeFile(tree / "sub" / "b", "beta");
    fs::create_directory(tree / "empty");
    fs::create_symlink("../a", tree / "sub" / "link");
    ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(tree / "a", fork));
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(tree / "sub", "folder fork"));
    ASSERT_TRUE(FolderItem(tree / "sub").setPermissions(0750));
    ASSERT_TRUE(FolderItem(tree / "sub").setModificationDate(1'000'000));

    FolderItem item(tree);
    ASSERT_TRUE(item.moveTo(FolderItem(here / "moved"))) << item.lastErrorText();
    EXPECT_FALSE(present(tree));

    const fs::path moved = here / "moved";
    EXPECT_EQ(names(FolderItem(moved)), (std::vector<std::string>{"a", "empty", "fifo", "sub"}));
    EXPECT_EQ(names(FolderItem(moved / "sub")), (std::vector<std::string>{"b", "link"}));
    EXPECT_EQ(test::readFile(moved / "a"), "alpha");
    EXPECT_EQ(test::readFile(moved / "sub" / "b"), "beta");
    EXPECT_EQ(MacMetadataStore::readResourceFork(moved / "a"), fork);
    EXPECT_EQ(MacMetadataStore::readResourceFork(moved / "sub"), "folder fork");
    EXPECT_EQ(fs::read_symlink(moved / "sub" / "link"), "../a");
    EXPECT_EQ(FolderItem(moved / "fifo").kind(), FolderItem::Kind::Other);
    EXPECT_EQ(FolderItem(moved / "sub").mode() & 07777, 0750u);
    EXPECT_EQ(FolderItem(moved / "sub").modificationDate(), 1'000'000);
    EXPECT_EQ(names(FolderItem(here.path())), std::vector<std::string>{"moved"});
}

} // namespace
} // namespace lv
