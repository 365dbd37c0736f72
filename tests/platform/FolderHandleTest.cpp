#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/FolderHandle.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// Nothing done through a folder's descriptor follows a link or replaces what is there, and the
// descriptor stays with the folder, wherever it is moved.
TEST(FolderHandle, NeverFollowsReplacesOrLeavesItsFolder)
{
    test::TempDir dir;
    writeFile(dir / "outside" / "victim", "precious");
    writeFile(dir / "f" / "file", "mine");
    fs::create_directory(dir / "f" / "sub");
    fs::create_symlink(dir / "outside" / "victim", dir / "f" / "link");
    fs::create_symlink(dir / "outside", dir / "f" / "folderlink");

    int err = 0;
    const FolderHandle folder = FolderHandle::open(dir / "f", err);
    ASSERT_TRUE(folder.isOpen()) << err;
    EXPECT_FALSE(FolderHandle::open(dir / "f" / "folderlink", err).isOpen());
    EXPECT_EQ(err, ENOTDIR);
    EXPECT_TRUE(FolderHandle::open(dir / "f" / "folderlink", err, true).isOpen());

    struct stat st {};
    const struct {
        const char* name;
        FolderItem::Kind kind;
        int openErr;
    } items[] = {{"file", FolderItem::Kind::File, ENOTDIR},     {"sub", FolderItem::Kind::Folder, 0},
                 {"link", FolderItem::Kind::Alias, ENOTDIR},     {"folderlink", FolderItem::Kind::Alias, ENOTDIR},
                 {"missing", FolderItem::Kind::Missing, ENOENT}};
    for (const auto& i : items) {
        EXPECT_EQ(folder.kindOf(i.name, st, err), i.kind) << i.name;
        const FolderHandle sub = folder.openFolder(i.name, err);
        EXPECT_EQ(sub.isOpen() ? 0 : err, i.openErr) << i.name;
    }

    for (const char* taken : {"file", "link", "sub"}) {
        EXPECT_FALSE(folder.createFile(taken, 0600, err)) << taken;
        EXPECT_EQ(err, EEXIST) << taken;
    }
    FileDescriptor fd = folder.createFile("new", 0600, err);
    ASSERT_TRUE(fd);
    ASSERT_EQ(::write(fd.get(), "data", 4), 4);
    for (const char* taken : {"file", "link"})
        EXPECT_EQ(folder.moveNoReplace("new", taken), EEXIST) << taken;
    EXPECT_EQ(readFile(dir / "f" / "file"), "mine");
    EXPECT_EQ(readFile(dir / "outside" / "victim"), "precious");
    EXPECT_TRUE(fs::is_symlink(dir / "f" / "link"));
    EXPECT_EQ(folder.moveNoReplace("new", "placed"), 0);
    EXPECT_EQ(readFile(dir / "f" / "placed"), "data");
    EXPECT_EQ(folder.moveReplacing("placed", "link"), 0);
    EXPECT_FALSE(fs::is_symlink(dir / "f" / "link"));
    EXPECT_EQ(readFile(dir / "outside" / "victim"), "precious");

    fs::rename(dir / "f", dir / "moved");
    EXPECT_EQ(folder.makeFolder("later", 0700), 0);
    EXPECT_TRUE(fs::is_directory(dir / "moved" / "later"));
    EXPECT_FALSE(fs::exists(dir / "f"));
}

} // namespace
} // namespace lv
