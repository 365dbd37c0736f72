#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"
#include "ui/main/CalcSize.h"

namespace lv {
namespace {

namespace fs = std::filesystem;

TEST(CalcSize, SizeTexts)
{
    const double KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024, TiB = GiB * 1024;
    const std::pair<double, const char*> cases[] = {
        {0, "0 Bytes"},         {1023, "1023 Bytes"},       {1024, "1.00 KB"},   {1536, "1.50 KB"},
        {MiB - 1, "1024.00 KB"}, {MiB, "1.00 MB"},           {GiB, "1.00 GB"},    {TiB, "1.00 TB"},
        {5 * TiB * 1024, "5120.00 TB"},
    };
    for (const auto& [size, text] : cases) EXPECT_EQ(CalcSize::sizeText(size), text) << size;
}

TEST(CalcSize, AFolderMeasuresWhatDuCountsWithoutAShell)
{
    test::TempDir dir;
    // A folder whose name would run a command if it went through a shell.
    const fs::path folder = dir / "$(touch pwned)";
    fs::create_directories(folder / "sub");
    test::writeFile(folder / "a.bin", test::randomBytes(100000));
    test::writeFile(folder / "sub" / "b.txt", std::string(5000, 'b'));
    fs::create_hard_link(folder / "a.bin", folder / "sub" / "same.bin");  // counted once
    fs::create_symlink("/usr", folder / "link");                          // not followed

    std::string out;
    ASSERT_EQ(test::runCommand("du -sk " + test::shellQuote(folder.native()), &out), 0);
    const std::uint64_t duBytes = std::stoull(out) * 1024;
    EXPECT_EQ(CalcSize::diskUsage(FolderItem(folder)), duBytes);
    EXPECT_EQ(CalcSize::measure(FolderItem(folder)), CalcSize::sizeText(double(duBytes)));
    EXPECT_FALSE(fs::exists(dir / "pwned"));
    EXPECT_FALSE(fs::exists("pwned"));

    // A file shows its length, not its blocks.
    test::writeFile(dir / "f", std::string(1536, 'x'));
    EXPECT_EQ(CalcSize::measure(FolderItem(dir / "f")), "1.50 KB");
}

} // namespace
} // namespace lv
