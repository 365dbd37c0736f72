// Archives written by the library (through lvzip, as the archiving worker drives it) are read by
// the outside tools, which give every byte back.

#include <gtest/gtest.h>

#include <algorithm>

#include "WriterTestSupport.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// Python's view of the archive: one "name method size" line per entry, in directory order.
std::string pythonListing(const fs::path& zip)
{
    std::string out;
    EXPECT_EQ(run("python3 -c 'import sys,zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): "
                  "print(i.orig_filename.encode(\"cp437\").decode(\"utf-8\"), i.compress_type, i.file_size)' " +
                      shellQuote(zip),
                  &out),
              0)
        << out;
    return out;
}

// An unzip pattern for a stored name. The names carry no UTF-8 flag, so unzip takes their bytes
// for code page 437 and matches its own reading of them: non-ASCII bytes match "?".
std::string unzipPattern(const std::string& name)
{
    std::string pattern;
    for (const char c : name)
        pattern += (static_cast<unsigned char>(c) >= 0x80) ? '?' : c;
    return pattern;
}

class WriteInterop : public ::testing::TestWithParam<bool> {};

TEST_P(WriteInterop, OutsideToolsTestTheArchiveAndGetEveryByteBack)
{
    const bool store = GetParam();
    TempDir dir;
    const fs::path tree = makeFixtureTree(dir.path());
    const fs::path zip = dir / "out.zip";
    std::string out;
    ASSERT_EQ(run(shellQuote(lvzipPath()) + " add " + (store ? "--store " : "") + shellQuote(zip) + " " + shellQuote(tree), &out), 0)
        << out;

    EXPECT_EQ(run("unzip -tq " + shellQuote(zip), &out), 0) << out;
    EXPECT_EQ(run("python3 -m zipfile -t " + shellQuote(zip), &out), 0) << out;
    EXPECT_EQ(run("bsdtar -tf " + shellQuote(zip), &out), 0) << out;
    EXPECT_NE(out.find("tree/sub/emptydir/"), std::string::npos) << out;
    EXPECT_EQ(run("7zz t " + shellQuote(zip), &out), 0) << out;

    const std::string listing = pythonListing(zip);
    EXPECT_NE(listing.find("tree/sub/emptydir/ 0 0\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("tree/sub/deeper/ 0 0\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("tree/sub/big200000.bin " + std::string(store ? "0" : "8") + " 200000\n"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("tree/empty.txt 0 0\n"), std::string::npos) << listing;

    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(tree)) {
        if (!e.is_regular_file())
            continue;
        const std::string name = "tree/" + fs::relative(e.path(), tree).string();
        std::string bytes;
        ASSERT_EQ(runCommand("unzip -p " + shellQuote(zip) + " " + shellQuote(unzipPattern(name)), &bytes), 0) << name;
        EXPECT_TRUE(bytes == readFile(e.path())) << name;
        ++files;
    }
    EXPECT_EQ(files, 8);
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, WriteInterop, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Stored" : "Deflated"; });

TEST(LvzipAdd, FailureGivesTheArchiveTextAndANonZeroStatus)
{
    TempDir dir;
    std::string out;
    EXPECT_NE(run(shellQuote(lvzipPath()) + " add " + shellQuote(dir / "out.zip") + " " + shellQuote(dir / "missing"), &out), 0);
    EXPECT_NE(out.find("Opening the source data stream failed"), std::string::npos) << out;
    // The archive is still closed with its directory.
    EXPECT_EQ(run("unzip -tq " + shellQuote(dir / "out.zip"), &out), 0) << out;
}

} // namespace
} // namespace lv::test
