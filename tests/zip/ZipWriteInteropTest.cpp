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

// How lvzip writes: the parallel writer (stored, deflated, or with a memory bound so small that
// the longer files are built in pieces), and each entry written before the next add.
struct WriterMode {
    const char* name;
    const char* options;
    bool deflate;
    bool storesWhatDoesNotShrink;  // the parallel writer stores an entry whose data would grow
    std::uint64_t piecesAbove = 0;  // entries longer are built in pieces, noise as stored blocks
};

void PrintTo(const WriterMode& mode, std::ostream* os) { *os << mode.name; }

class WriteInterop : public ::testing::TestWithParam<WriterMode> {};

TEST_P(WriteInterop, OutsideToolsTestTheArchiveAndGetEveryByteBack)
{
    const WriterMode mode = GetParam();
    TempDir dir;
    const fs::path tree = makeFixtureTree(dir.path());
    // Longer than a piece of the smallest memory bound: text, random bytes, and random bytes
    // behind text.
    writeFile(tree / "long" / "text.txt", textBytes(700000) + "end");
    writeFile(tree / "long" / "noise.bin", randomBytes(600001, 5));
    writeFile(tree / "long" / "mixed.bin", textBytes(300000) + randomBytes(300000, 6));
    const fs::path zip = dir / "out.zip";
    std::string out;
    ASSERT_EQ(run(shellQuote(lvzipPath()) + " add " + mode.options + " " + shellQuote(zip) + " " + shellQuote(tree), &out), 0)
        << out;

    EXPECT_EQ(run("unzip -tq " + shellQuote(zip), &out), 0) << out;
    EXPECT_EQ(run("python3 -m zipfile -t " + shellQuote(zip), &out), 0) << out;
    EXPECT_EQ(run("bsdtar -tf " + shellQuote(zip), &out), 0) << out;
    EXPECT_NE(out.find("tree/sub/emptydir/"), std::string::npos) << out;
    EXPECT_EQ(run("7zz t " + shellQuote(zip), &out), 0) << out;

    const std::string listing = pythonListing(zip);
    const auto expect = [&](const std::string& name, bool shrinks, std::uint64_t size) {
        const bool inPieces = mode.piecesAbove && size > mode.piecesAbove;
        const bool deflated = size > 0 && mode.deflate && (shrinks || inPieces || !mode.storesWhatDoesNotShrink);
        EXPECT_NE(listing.find(name + " " + (deflated ? "8 " : "0 ") + std::to_string(size) + "\n"), std::string::npos)
            << name << "\n" << listing;
    };
    expect("tree/sub/emptydir/", false, 0);
    expect("tree/sub/deeper/", false, 0);
    EXPECT_NE(listing.find("tree/empty.txt 0 0\n"), std::string::npos) << listing;
    expect("tree/text16383.txt", true, 16383);
    expect("tree/sub/big200000.bin", false, 200000);
    expect("tree/long/text.txt", true, 700003);
    expect("tree/long/noise.bin", false, 600001);
    expect("tree/long/mixed.bin", true, 600000);

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
    EXPECT_EQ(files, 11);
}

INSTANTIATE_TEST_SUITE_P(Writers, WriteInterop,
                         ::testing::Values(WriterMode{"Stored", "--store", false, true},
                                           WriterMode{"Deflated", "", true, true},
                                           WriterMode{"DeflatedInPieces", "--memory 1048576", true, true, 131072},
                                           WriterMode{"StoredInPieces", "--store --memory 1048576", false, true, 131072},
                                           WriterMode{"DeflatedOneByOne", "--serial", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

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
