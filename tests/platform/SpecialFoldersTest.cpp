#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "platform/Exceptions.h"
#include "platform/SpecialFolders.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Gives each test its own home and XDG settings and puts the real ones back afterwards.
class SpecialFoldersTest : public ::testing::Test {
protected:
    static constexpr const char* Variables[] = {"HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "XDG_CONFIG_HOME",
                                                "XDG_STATE_HOME"};

    void SetUp() override
    {
        for (const char* v : Variables) {
            if (const char* value = std::getenv(v))
                m_saved[v] = value;
            ::unsetenv(v);
        }
        set("HOME", m_home.path());
    }
    void TearDown() override
    {
        for (const char* v : Variables) {
            if (auto it = m_saved.find(v); it != m_saved.end())
                ::setenv(v, it->second.c_str(), 1);
            else
                ::unsetenv(v);
        }
    }
    static void set(const char* name, const fs::path& value) { ::setenv(name, value.c_str(), 1); }
    static mode_t modeOf(const fs::path& p)
    {
        struct stat st;
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
    }

    TempDir m_home;
    TempDir m_other;
    std::map<std::string, std::string> m_saved;
};

TEST_F(SpecialFoldersTest, TemporaryFolderIsPrivateAndFoundTheXdgWay)
{
    const struct {
        const char* what;
        std::optional<fs::path> runtime, cache;
        fs::path expected;
    } cases[] = {
        {"runtime folder", m_other.path(), std::nullopt, m_other / "lockvane"},
        {"runtime folder missing", m_other / "gone", m_other / "cache", m_other / "cache" / "lockvane"},
        {"relative runtime folder", fs::path("relative"), std::nullopt, m_home / ".cache" / "lockvane"},
        {"cache folder", std::nullopt, m_other / "c" / "d", m_other / "c" / "d" / "lockvane"},
        {"neither", std::nullopt, std::nullopt, m_home / ".cache" / "lockvane"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.runtime ? set("XDG_RUNTIME_DIR", *c.runtime) : void(::unsetenv("XDG_RUNTIME_DIR"));
        c.cache ? set("XDG_CACHE_HOME", *c.cache) : void(::unsetenv("XDG_CACHE_HOME"));
        const mode_t oldMask = ::umask(0277);  // a umask that takes the owner's own bits
        EXPECT_EQ(SpecialFolders::temporary().path(), c.expected);
        ::umask(oldMask);
        EXPECT_EQ(modeOf(c.expected), mode_t(S_IFDIR | 0700));
        EXPECT_EQ(SpecialFolders::temporary().path(), c.expected);  // found again as it is
        fs::remove(c.expected);
    }
}

TEST_F(SpecialFoldersTest, TemporaryFolderThatIsNotSafelyOursIsRefused)
{
    set("XDG_RUNTIME_DIR", m_home.path());
    const fs::path folder = m_home / "lockvane";
    fs::create_directory(m_other / "elsewhere");
    ::chmod((m_other / "elsewhere").c_str(), 0700);

    const struct {
        const char* what;
        void (*make)(const fs::path& folder, const fs::path& elsewhere);
    } cases[] = {
        {"a link to a private folder", [](const fs::path& f, const fs::path& e) { fs::create_symlink(e, f); }},
        {"a file", [](const fs::path& f, const fs::path&) { test::writeFile(f, ""); }},
        {"writable by its group", [](const fs::path& f, const fs::path&) { fs::create_directory(f); ::chmod(f.c_str(), 0770); }},
        {"writable by all", [](const fs::path& f, const fs::path&) { fs::create_directory(f); ::chmod(f.c_str(), 0757); }},
        {"someone else's", [](const fs::path& f, const fs::path&) {
             fs::create_directory(f);
             ::chmod(f.c_str(), 0700);
             ASSERT_EQ(::chown(f.c_str(), 4242, 4242), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "someone else's" && ::geteuid() != 0)
            continue;  // only root can give a folder away
        c.make(folder, m_other / "elsewhere");
        EXPECT_THROW(SpecialFolders::temporary(), RuntimeException);
        fs::remove(folder);
    }
}

TEST_F(SpecialFoldersTest, TemporaryFolderThatOthersCouldOnlyReadIsClosedToThem)
{
    set("XDG_RUNTIME_DIR", m_home.path());
    const fs::path folder = m_home / "lockvane";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(SpecialFolders::temporary().path(), folder);
    EXPECT_EQ(modeOf(folder), mode_t(S_IFDIR | 0700));
}

// The records of leftovers must outlive the session: never the runtime folder.
TEST_F(SpecialFoldersTest, LeftoverRecordsLiveInTheStateFolder)
{
    set("XDG_RUNTIME_DIR", m_other.path());
    EXPECT_EQ(SpecialFolders::leftoverRecords(), m_home / ".local" / "state" / "lockvane" / "leftovers");
    set("XDG_STATE_HOME", "relative");
    EXPECT_EQ(SpecialFolders::leftoverRecords(), m_home / ".local" / "state" / "lockvane" / "leftovers");
    set("XDG_STATE_HOME", m_other / "state");
    EXPECT_EQ(SpecialFolders::leftoverRecords(), m_other / "state" / "lockvane" / "leftovers");
}

TEST_F(SpecialFoldersTest, PreferencesFolderIsCreatedWhenMissing)
{
    EXPECT_EQ(SpecialFolders::preferences().path(), m_home / ".config");
    EXPECT_TRUE(fs::is_directory(m_home / ".config"));
    set("XDG_CONFIG_HOME", m_other / "a" / "b");
    EXPECT_EQ(SpecialFolders::preferences().path(), m_other / "a" / "b");
    EXPECT_TRUE(fs::is_directory(m_other / "a" / "b"));
}

TEST_F(SpecialFoldersTest, DesktopFromUserDirsElseDesktopElseHome)
{
    const fs::path userDirs = m_home / ".config" / "user-dirs.dirs";
    EXPECT_EQ(SpecialFolders::desktop().path(), m_home.path());
    fs::create_directory(m_home / "Desktop");
    EXPECT_EQ(SpecialFolders::desktop().path(), m_home / "Desktop");

    fs::create_directory(m_home / "Schreib \"tisch\"");
    test::writeFile(userDirs, "# written by xdg-user-dirs-update\n"
                              "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                              "XDG_DESKTOP_DIR=\"$HOME/Schreib \\\"tisch\\\"\"\n");
    EXPECT_EQ(SpecialFolders::desktop().path(), m_home / "Schreib \"tisch\"");

    test::writeFile(userDirs, "XDG_DESKTOP_DIR=\"" + m_other.path().native() + "\"\n");
    EXPECT_EQ(SpecialFolders::desktop().path(), m_other.path());

    // A configured folder that does not exist falls back.
    test::writeFile(userDirs, "XDG_DESKTOP_DIR=\"$HOME/Missing\"\n");
    EXPECT_EQ(SpecialFolders::desktop().path(), m_home / "Desktop");
}

TEST_F(SpecialFoldersTest, HomeFromEnvironmentElsePasswordDatabase)
{
    EXPECT_EQ(SpecialFolders::home().path(), m_home.path());
    ::unsetenv("HOME");
    const fs::path fromDatabase = SpecialFolders::home().path();
    EXPECT_TRUE(fromDatabase.is_absolute());
    EXPECT_TRUE(fs::is_directory(fromDatabase));
}

} // namespace
} // namespace lv
