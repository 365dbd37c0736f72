#include <gtest/gtest.h>

#include <QFile>
#include <QUrl>

#include <unistd.h>

#include "app/FileNames.h"
#include "app/UnreadableFile.h"
#include "qtsupport/ScriptedDialogs.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;

TEST(FileNames, ANameThatIsNotUtf8KeepsItsBytesThroughQt)
{
    test::TempDir dir;
    const fs::path folder = dir / "Ordner \xFC";  // Latin-1, as an old disk may hold it
    const fs::path file = folder / "caf\xE9.txt";
    test::writeFile(file, "x");
    const QString shown = FileNames::toQt(FolderItem(file));
    EXPECT_TRUE(shown.contains(QChar(0xFFFD)));

    // What a chooser gives back: the readable form, matched to the entry it stands for.
    EXPECT_EQ(FileNames::fromQt(shown).path(), file);
    EXPECT_EQ(FileNames::fromQt(QFile::decodeName(QByteArray::fromStdString(folder.native()))).path(), folder);
    // A name that is written as it stands is taken as it stands, existing or not.
    EXPECT_EQ(FileNames::fromQt(QString::fromStdString((dir / "plain.txt").native())).path(), dir / "plain.txt");

    // A file address carries the bytes percent-encoded.
    const QUrl url = QUrl::fromEncoded("file://" + QByteArray::fromStdString(file.native()).toPercentEncoding("/"));
    EXPECT_EQ(FileNames::fromUrl(url).path(), file);
    EXPECT_EQ(FileNames::fromUrl(QUrl::fromLocalFile(QStringLiteral("/tmp/é/"))).path(), fs::path("/tmp/\xC3\xA9"));
    EXPECT_TRUE(FileNames::fromUrl(QUrl(QStringLiteral("https://example.org/a"))).isNull());
}

TEST(FileNames, AMatchThatIsNotOneOfAKindIsNotGuessed)
{
    test::TempDir dir;
    // Two names that read the same: neither is taken for the other.
    test::writeFile(dir / "\xFF.txt", "a");
    test::writeFile(dir / "\xFE.txt", "b");
    const QString shown = FileNames::toQt(FolderItem(dir / "\xFF.txt"));
    EXPECT_FALSE(FileNames::fromQt(shown).exists());
}

TEST(UnreadableFile, AFileThatCannotBeOpenedIsRefusedWithTheReason)
{
    test::TempDir dir;
    const fs::path file = dir / "secret.cdx";
    test::writeFile(file, "header");
    fs::permissions(file, fs::perms::owner_write);
    fs::permissions(dir.path(), fs::perms::all);
    // As a user who may not read it (root may read anything).
    const int status = test::runInChild(
        [&] {
            test::ScriptedDialogs& dialogs = test::ScriptedDialogs::installed();
            dialogs.reset();
            if (!UnreadableFile::refuse(FolderItem(file), nullptr)) return 1;
            if (dialogs.messages != std::vector<std::string>{"The file \"secret.cdx\" cannot be read."}) return 2;
            if (dialogs.explanations.front() != "Permission denied.") return 3;
            // A folder, or a file that can be read, goes on as before.
            if (UnreadableFile::refuse(FolderItem(dir.path()), nullptr)) return 4;
            return dialogs.messages.size() == 1 ? 0 : 5;
        },
        true);
    EXPECT_EQ(status, 0);
    test::ScriptedDialogs::installed().reset();
    EXPECT_FALSE(UnreadableFile::refuse(FolderItem(dir / "missing"), nullptr));
}

TEST(UnreadableFile, TheBoxNamesAHandfulAndCountsTheRest)
{
    const auto files = [](std::initializer_list<const char*> names) {
        std::vector<FolderItem> items;
        for (const char* name : names) items.emplace_back(fs::path("/x") / name);
        return items;
    };
    const std::pair<std::vector<FolderItem>, std::string> cases[] = {
        {files({"a"}), "The file \"a\" cannot be read."},
        {files({"a", "b"}), "The files \"a\" and \"b\" cannot be read."},
        {files({"a", "b", "c", "d", "e"}), "The files \"a\", \"b\", \"c\", \"d\" and \"e\" cannot be read."},
        {files({"a", "b", "c", "d", "e", "f", "g"}),
         "The files \"a\", \"b\", \"c\", \"d\", \"e\" and 2 more cannot be read."},
    };
    for (const auto& [items, text] : cases) EXPECT_EQ(UnreadableFile::messageFor(items), text);
}

} // namespace
} // namespace lv
