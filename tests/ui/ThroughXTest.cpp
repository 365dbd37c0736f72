// The windows as a person meets them: keys and clicks go through a real X server (XTest, sent by
// xdotool), so the window system's focus handling and Qt's own key handling take part, as they
// do for a user. Run under xvfb-run on the xcb platform (see tests/CMakeLists.txt); skipped
// elsewhere.
//
// Every key sent is waited for until the program has received its release, so that nothing
// races: what the test looks at afterwards is what the key did.

#include <QAbstractNativeEventFilter>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>

#include <signal.h>

#include <atomic>
#include <set>
#include <thread>

#include "engine/ZipThread.h"
#include "platform/SpecialFolders.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/Canvases.h"
#include "ui/main/LVDisplay.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using View = MainWindow::View;

// Counts the key releases the X server delivers to the program, before Qt decides anything
// about them (a window blocked by a sheet still counts).
class KeyReleases : public QAbstractNativeEventFilter {
public:
    int count = 0;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        constexpr std::uint8_t XcbKeyRelease = 3;
        if (eventType == "xcb_generic_event_t" && (*static_cast<const std::uint8_t*>(message) & 0x7f) == XcbKeyRelease)
            ++count;
        return false;
    }
};

// Runs xdotool; its standard output, trimmed; nullopt when it failed.
std::optional<QString> xdotool(const QStringList& arguments, int timeoutMs = 15000)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool xdotoolAvailable()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

const std::set<std::string> AllControls = {"bNo",       "bYes",    "stAreyouSure", "bCancel",      "stReports",
                                           "pbProgress", "cBorder", "cbAdd",        "cbMinus",      "cbAction",
                                           "lvdhHeader", "sbwMain", "bFirstCancel", "bEncrypt",     "cBack",
                                           "Canvas1",    "lvdList"};

// The controls of each view, as the window's table lists them.
std::set<std::string> controlsOf(View view)
{
    switch (view) {
    case View::DropZone: return {"cBack", "cBorder", "cbAdd", "cbAction"};
    case View::DecryptQuestion: return {"stAreyouSure", "bYes", "bNo"};
    case View::ItemList:
        return {"lvdhHeader", "lvdList", "sbwMain", "bFirstCancel", "bEncrypt", "cBorder", "cbAction", "cbAdd", "cbMinus"};
    case View::JobView: return {"pbProgress", "stReports", "bCancel"};
    }
    return {};
}

class ThroughX : public test::UiFixture {
protected:
    void SetUp() override
    {
        if (!xdotoolAvailable()) GTEST_SKIP() << "needs the xcb platform and xdotool (run under xvfb-run)";
        UiFixture::SetUp();
        qApp->installNativeEventFilter(&m_releases);
        prefs().ConfirmKey = false;
        focusWindow(window().winId());
    }
    void TearDown() override
    {
        release();
        ZipThread::setStepHookForTesting(nullptr);
        if (!xdotoolAvailable()) return;
        qApp->removeNativeEventFilter(&m_releases);
        UiFixture::TearDown();
    }

    // Gives the X input focus to a window of ours.
    static void focusWindow(WId id)
    {
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(id)});
        settle();
    }

    // Presses `key` (xdotool's names, "ctrl+q" for a chord) and waits until the program has it.
    void key(const QString& key)
    {
        const int before = m_releases.count;
        const int releases = int(key.count(QLatin1Char('+'))) + 1;
        ASSERT_TRUE(xdotool({QStringLiteral("key"), key}));
        ASSERT_TRUE(waitFor([&] { return m_releases.count >= before + releases; }, 10000)) << key.toStdString();
        settle();
    }

    void click(QWidget* widget, QPoint at)
    {
        const QPoint global = widget->mapToGlobal(at);
        xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
        settle();
    }

    // Walks the focus with Tab; the names of every control of the main window it reached.
    std::set<std::string> tabWalk(int presses = 8)
    {
        std::set<std::string> reached;
        for (int i = 0; i < presses; ++i) {
            key(QStringLiteral("Tab"));
            if (QWidget* focused = QApplication::focusWidget(); focused && window().isAncestorOf(focused))
                reached.insert(focused->objectName().toStdString());
        }
        return reached;
    }

    // Every control reached is one of `view`'s.
    static void expectOnlyControlsOf(View view, const std::set<std::string>& reached)
    {
        const std::set<std::string> allowed = controlsOf(view);
        for (const std::string& name : reached)
            if (AllControls.count(name)) {
                EXPECT_TRUE(allowed.count(name)) << name << " is out of view";
            }
    }

    // Holds the next archiving at its first item until `release`.
    void holdTheNextJob()
    {
        m_held = true;
        m_holding = false;
        ZipThread::setStepHookForTesting([this](bool archiving, std::int32_t) {
            if (!archiving) return;
            m_holding = true;
            while (m_held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    }
    void release() { m_held = false; }

    // From the list to a running job, by keys alone: Return (Encrypt), the key, Return (OK).
    void startTheJobByKeys()
    {
        key(QStringLiteral("Return"));
        ASSERT_TRUE(waitFor([] { return swKey::current() != nullptr && swKey::current()->isVisible(); }));
        focusWindow(swKey::current()->winId());
        key(QStringLiteral("k"));
        key(QStringLiteral("Return"));
        ASSERT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
        ASSERT_TRUE(waitFor([&] { return m_holding.load(); }));
        focusWindow(window().winId());
    }

    std::vector<fs::path> threeFiles()
    {
        std::vector<fs::path> files;
        for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
            test::writeFile(dir / name, name);
            files.push_back(dir / name);
        }
        return files;
    }

    KeyReleases m_releases;
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_holding{false};
};

TEST_F(ThroughX, TabReachesOnlyTheControlsOfTheDropZoneAndTheDecryptQuestion)
{
    expectOnlyControlsOf(View::DropZone, tabWalk());

    writeHeaderOnlyFile(dir / "letter.cdx", 1);
    Lockvane::App()->queueDocuments({FolderItem(dir / "letter.cdx")});
    ASSERT_TRUE(waitFor([&] { return window().view() == View::DecryptQuestion; }));
    settle();
    const std::set<std::string> reached = tabWalk();
    expectOnlyControlsOf(View::DecryptQuestion, reached);
    EXPECT_TRUE(reached.count("bYes") && reached.count("bNo"));
    // Return answers Yes, the default button: the key sheet opens.
    key(QStringLiteral("Return"));
    EXPECT_TRUE(waitFor([] { return swKey::current() != nullptr; }));
    EXPECT_EQ(window().view(), View::JobView);
}

TEST_F(ThroughX, TabReachesOnlyTheListsControlsAndTheArrowsMoveTheSelection)
{
    drop(window().cBack, threeFiles());
    ASSERT_EQ(window().view(), View::ItemList);
    const std::set<std::string> reached = tabWalk();
    expectOnlyControlsOf(View::ItemList, reached);
    EXPECT_TRUE(reached.count("bEncrypt") && reached.count("bFirstCancel"));

    // Row 1 clicked; a push button keeps the focus.
    click(window().lvdList, QPoint(150, 25));
    ASSERT_TRUE(waitFor([&] { return window().lvdList->RowSelected; }));
    ASSERT_EQ(window().lvdList->SelectedRow, 1);
    ASSERT_NE(qobject_cast<QPushButton*>(QApplication::focusWidget()), nullptr);
    const std::pair<const char*, int> steps[] = {{"Down", 2}, {"Down", 3}, {"Down", 3}, {"Up", 2}, {"Up", 1}, {"Up", 1}};
    for (const auto& [arrow, row] : steps) {
        key(QString::fromLatin1(arrow));
        EXPECT_EQ(window().lvdList->SelectedRow, row) << arrow;
        EXPECT_TRUE(window().lvdList->RowSelected);
    }
}

TEST_F(ThroughX, InTheJobViewNoKeyReachesAControlWhileTheJobRuns)
{
    test::writeFile(dir / "note.txt", "note");
    drop(window().cBack, {dir / "note.txt"});
    holdTheNextJob();
    startTheJobByKeys();
    ASSERT_EQ(window().view(), View::JobView);

    // Tab, Space and Return, on whatever holds the focus, again and again.
    std::set<std::string> reached;
    for (int round = 0; round < 4; ++round) {
        const std::set<std::string> r = tabWalk(1);
        reached.insert(r.begin(), r.end());
        key(QStringLiteral("space"));
        key(QStringLiteral("Return"));
        SCOPED_TRACE(round);
        ASSERT_EQ(window().view(), View::JobView);
        EXPECT_EQ(swKey::current(), nullptr);  // no second key sheet
        EXPECT_TRUE(globals().enc->isBusy());
        EXPECT_FALSE(window().bYes->isVisible() || window().bNo->isVisible());
        EXPECT_EQ(globals().Items.size(), 1u);
    }
    expectOnlyControlsOf(View::JobView, reached);

    // Once the job is done, Return presses OK, the default button.
    release();
    ASSERT_TRUE(waitFor([&] { return window().bCancel->text() == "OK"; }, 60000));
    key(QStringLiteral("Return"));
    EXPECT_TRUE(waitFor([&] { return window().view() == View::DropZone; }));
    EXPECT_TRUE(fs::exists(destination / "EncryptedFile.cdx"));
}

TEST_F(ThroughX, QuitByItsShortcutKeepsTheWindowsPosition)
{
    const QPoint before = window().pos();
    xdotool({QStringLiteral("windowmove"), QString::number(window().winId()), QStringLiteral("217"), QStringLiteral("143")});
    ASSERT_TRUE(waitFor([&] { return window().pos() != before; }, 10000));
    settle();
    key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(waitFor([] { return Lockvane::App()->quitting(); }, 10000));
    EXPECT_EQ(prefs().pLeft, window().Left());
    EXPECT_EQ(prefs().pTop, window().Top());
    EXPECT_NE(prefs().pLeft, -1);
    // And it is in the settings file the next start reads.
    const std::string settings = test::readFile(SpecialFolders::preferences().path() / "Lockvane.LV_PREFS");
    EXPECT_NE(settings.find("<pLeft>" + std::to_string(window().Left()) + "</pLeft>"), std::string::npos) << settings;
    EXPECT_NE(settings.find("<pTop>" + std::to_string(window().Top()) + "</pTop>"), std::string::npos);
}

// The program itself, in a home of its own, watched only from outside: through the X server and
// the settings file it leaves.
TEST_F(ThroughX, TheProgramComesForwardWhenStartedAgainAndKeepsItsPositionWhenQuit)
{
    test::TempDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, sub] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"}, {"XDG_CACHE_HOME", "/cache"},
                                    {"XDG_RUNTIME_DIR", "/runtime"}, {"XDG_DATA_HOME", "/data"},
                                    {"XDG_STATE_HOME", "/state"}}) {
        fs::create_directories(home.path().native() + sub);
        fs::permissions(home.path().native() + sub, fs::perms::owner_all);
        env.insert(QString::fromLatin1(name), QString::fromStdString(home.path().native() + sub));
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.setProgram(QStringLiteral(LOCKVANE_PROGRAM));
        p.start();
        return p.waitForStarted();
    };
    QProcess first;
    ASSERT_TRUE(start(first));
    const std::optional<QString> found = xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), QString::number(first.processId())});
    ASSERT_TRUE(found && !found->isEmpty());
    const QString id = found->split(QLatin1Char('\n')).first();

    // Another window has the focus; a start without documents hands it back and ends.
    focusWindow(window().winId());
    ASSERT_EQ(xdotool({QStringLiteral("getwindowfocus")}).value_or(QString()), QString::number(window().winId()));
    QProcess second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitFor([&] { return xdotool({QStringLiteral("getwindowfocus")}).value_or(QString()) == id; }, 10000));

    // Moved, then quit by the keyboard: the settings file keeps where it stood.
    xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), id, QStringLiteral("300"), QStringLiteral("200")});
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);
    const std::string settings = test::readFile(home / "config" / "Lockvane.LV_PREFS");
    EXPECT_NE(settings.find("<pLeft>300</pLeft>"), std::string::npos) << settings;
    EXPECT_EQ(settings.find("<pTop>-1</pTop>"), std::string::npos) << settings;
}

} // namespace
} // namespace lv
