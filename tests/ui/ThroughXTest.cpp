// The windows as a person meets them: keys and clicks go through a real X server (XTest, sent by
// xdotool), so the window system's focus handling and Qt's own key handling take part, as they
// do for a user. Run under xvfb-run on the xcb platform (see tests/CMakeLists.txt); skipped
// elsewhere.
//
// Every key sent is waited for until the program has received its release, so that nothing
// races: what the test looks at afterwards is what the key did.

#include <QAbstractNativeEventFilter>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>

#include <signal.h>

#include <atomic>
#include <set>
#include <thread>

#include "engine/KeyCheck.h"
#include "engine/LVTagger.h"
#include "engine/ZipThread.h"
#include "platform/SpecialFolders.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/Dialogs.h"
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

// The environment of the program started in a home of its own (its settings, work folders and
// running-instance socket apart from the test's).
QProcessEnvironment programEnvironment(const fs::path& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, sub] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"}, {"XDG_CACHE_HOME", "/cache"},
                                    {"XDG_RUNTIME_DIR", "/runtime"}, {"XDG_DATA_HOME", "/data"},
                                    {"XDG_STATE_HOME", "/state"}}) {
        fs::create_directories(home.native() + sub);
        fs::permissions(home.native() + sub, fs::perms::owner_all);
        env.insert(QString::fromLatin1(name), QString::fromStdString(home.native() + sub));
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

// The X id of the first visible window of `process`, once it shows one; empty when none came.
QString windowOfProcess(const QProcess& process)
{
    const std::optional<QString> found = xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), QString::number(process.processId())});
    return found ? found->split(QLatin1Char('\n')).first() : QString();
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

// The visible windows of process `pid`, as X window ids.
QStringList windowsOf(qint64 pid)
{
    const std::optional<QString> found =
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)});
    return found ? found->split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

// Where window `id` lies on the screen.
QRect geometryOf(const QString& id)
{
    const std::optional<QString> shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
    QRect r;
    for (const QString& line : shell.value_or(QString()).split(QLatin1Char('\n'))) {
        const QString value = line.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("X="))) r.moveLeft(value.toInt());
        if (line.startsWith(QLatin1String("Y="))) r.moveTop(value.toInt());
        if (line.startsWith(QLatin1String("WIDTH="))) r.setWidth(value.toInt());
        if (line.startsWith(QLatin1String("HEIGHT="))) r.setHeight(value.toInt());
    }
    return r;
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

    static QString focusedWindow() { return xdotool({QStringLiteral("getwindowfocus")}).value_or(QString()); }

    // Presses `key` (xdotool's names, "ctrl+q" for a chord) and waits until the program has it.
    void key(const QString& key)
    {
        const int before = m_releases.count;
        const int releases = int(key.count(QLatin1Char('+'))) + 1;
        ASSERT_TRUE(xdotool({QStringLiteral("key"), key}));
        ASSERT_TRUE(waitFor([&] { return m_releases.count >= before + releases; }, 10000)) << key.toStdString();
        settle();
    }

    // Types `keys` as a fast person does, 10 ms apart, while the program runs on as it would: the
    // keys reach it whenever it reads them. Returns once it has every release.
    void typeAtOnce(const QStringList& keys)
    {
        int releases = 0;
        for (const QString& k : keys) releases += int(k.count(QLatin1Char('+'))) + 1;
        const int before = m_releases.count;
        QProcess typist;
        typist.start(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("10")} + keys);
        ASSERT_TRUE(waitFor([&] { return typist.state() == QProcess::NotRunning; }, 15000));
        ASSERT_EQ(typist.exitCode(), 0);
        ASSERT_TRUE(waitFor([&] { return m_releases.count >= before + releases; }, 10000));
        settle();
    }

    // The xdotool names of the keys that type `text` (letters, digits and spaces).
    static QStringList keysOf(const QString& text)
    {
        QStringList keys;
        for (const QChar c : text) keys << (c == QLatin1Char(' ') ? QStringLiteral("space") : QString(c));
        return keys;
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

    // Holds the next archiving (or, with `archiving` false, extraction) at its first item until
    // `release`.
    void holdTheNextJob(bool archiving = true)
    {
        m_held = true;
        m_holding = false;
        ZipThread::setStepHookForTesting([this, archiving](bool archivingStep, std::int32_t) {
            if (archivingStep != archiving) return;
            m_holding = true;
            while (m_held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    }
    void release() { m_held = false; }

    // From the list (or the decrypt question) to a running job, by keys alone: Return (Encrypt or
    // Yes), the key, Return (OK); with `held`, the job is held at its first item.
    void startTheJobByKeys(bool held = true)
    {
        key(QStringLiteral("Return"));
        ASSERT_TRUE(waitFor([] { return swKey::current() != nullptr && swKey::current()->isVisible(); }));
        focusWindow(swKey::current()->winId());
        key(QStringLiteral("k"));
        key(QStringLiteral("Return"));
        ASSERT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
        if (held) {
            ASSERT_TRUE(waitFor([&] { return m_holding.load(); }));
        }
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

// Return on Encrypt (or on the decrypt question's Yes) and the key typed on without a pause: the
// keys the X server addressed to the main window before the sheet took the focus reach the key
// field, Tab moves on to the confirmation, and the last Return presses OK after all of them.
TEST_F(ThroughX, AKeyTypedOnFromReturnReachesTheSheetWholeAndOpensTheFile)
{
    const QString secret = QStringLiteral("Quick fox7");
    const QStringList typed = keysOf(secret);
    test::writeFile(dir / "note.txt", "a note");
    for (const bool confirm : {false, true}) {
        SCOPED_TRACE(confirm ? "key confirmation on" : "key confirmation off");
        prefs().ConfirmKey = confirm;
        drop(window().cBack, {dir / "note.txt"});
        ASSERT_EQ(window().view(), View::ItemList);
        focusWindow(window().winId());
        QStringList keys = QStringList{QStringLiteral("Return")} + typed;
        if (confirm) keys += QStringList{QStringLiteral("Tab")} + typed;
        typeAtOnce(keys + QStringList{QStringLiteral("Return")});
        ASSERT_TRUE(waitFor([&] { return window().bCancel->text() == "OK"; }, 60000)) << dialogs().messages.size();
        EXPECT_TRUE(dialogs().messages.empty()) << dialogs().messages.front();
        const fs::path encrypted = destination / "EncryptedFile.cdx";
        LVTagger header;
        ASSERT_TRUE(header.CheckTag(FolderItem(encrypted)));
        EXPECT_TRUE(KeyCheck::keyMatches(secret.toStdString(), header.q)) << "the file took another key";
        key(QStringLiteral("Return"));  // OK
        ASSERT_EQ(window().view(), View::DropZone);

        // Yes on the decrypt question, and the key at once.
        Lockvane::App()->queueDocuments({FolderItem(encrypted)});
        ASSERT_TRUE(waitFor([&] { return window().view() == View::DecryptQuestion; }));
        settle();
        typeAtOnce(QStringList{QStringLiteral("Return")} + typed + QStringList{QStringLiteral("Return")});
        ASSERT_TRUE(waitFor([&] { return window().stReports->text() == "Decryption Complete."; }, 60000));
        EXPECT_TRUE(dialogs().messages.empty()) << dialogs().messages.front();
        EXPECT_EQ(test::readFile(destination / "DecryptedFiles" / "note.txt"), "a note");
        key(QStringLiteral("Return"));
        fs::remove_all(destination);
        fs::create_directories(destination);
    }
}

// Escape while a job runs stops it as the job view's Cancel does, on either road, and nothing of
// the job stays behind: no output, no work file, no extracted item.
TEST_F(ThroughX, EscapeCancelsARunningJobAndLeavesNothing)
{
    const auto workFiles = [] {
        std::vector<fs::path> found;
        for (const fs::path& folder : SpecialFolders::temporaryCandidates())
            for (const char* name : {"Lockvane.zip", "Lockvane.cdx"})
                if (fs::exists(folder / name)) found.push_back(folder / name);
        return found;
    };
    const auto contents = [](const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(folder)) names.insert(e.path().filename().native());
        return names;
    };
    test::writeFile(dir / "note.txt", "a note");
    // An encrypted file to decrypt, made by a job that runs to its end.
    drop(window().cBack, {dir / "note.txt"});
    startTheJobByKeys(false);
    ASSERT_TRUE(waitFor([&] { return window().bCancel->text() == "OK"; }, 60000));
    key(QStringLiteral("Return"));
    const fs::path encrypted = destination / "EncryptedFile.cdx";
    ASSERT_TRUE(fs::exists(encrypted));
    const std::set<std::string> before = contents(destination);

    for (const bool encrypting : {true, false}) {
        SCOPED_TRACE(encrypting ? "encrypting" : "decrypting");
        if (encrypting)
            drop(window().cBack, {dir / "note.txt"});
        else
            Lockvane::App()->queueDocuments({FolderItem(encrypted)});
        ASSERT_TRUE(waitFor([&] { return window().view() == (encrypting ? View::ItemList : View::DecryptQuestion); }));
        settle();
        holdTheNextJob(encrypting);
        startTheJobByKeys();
        ASSERT_EQ(window().bCancel->text(), "Cancel");
        key(QStringLiteral("Escape"));
        EXPECT_EQ(window().view(), View::DropZone);
        release();
        globals().enc->waitUntilIdle();
        settle();
        EXPECT_FALSE(globals().enc->isBusy());
        EXPECT_EQ(contents(destination), before);
        EXPECT_TRUE(workFiles().empty());
        EXPECT_TRUE(window().stReports->text().isEmpty());
        EXPECT_TRUE(dialogs().messages.empty());
    }
}

// A later start brings the program forward with the focus on the window that had it: the key sheet
// (the next keys go on into the key) or one of the program's other windows, not the main window.
TEST_F(ThroughX, ASecondStartLeavesTheFocusWhereItWas)
{
    Lockvane::App()->listenForDocuments();
    test::writeFile(dir / "note.txt", "a note");
    // Another program, which takes the focus in between: the program itself, in a home of its own.
    test::TempDir otherHome;
    QProcess other;
    other.setProcessEnvironment(programEnvironment(otherHome.path()));
    other.start(QStringLiteral(LOCKVANE_PROGRAM), QStringList());
    const QString otherWindow = windowOfProcess(other);
    ASSERT_FALSE(otherWindow.isEmpty());
    const auto startAgain = [] {
        QProcess second;
        second.start(QStringLiteral(LOCKVANE_PROGRAM), QStringList());
        return waitFor([&] { return second.state() == QProcess::NotRunning; }, 15000) &&
               second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
    };
    for (const bool sheet : {true, false}) {
        SCOPED_TRACE(sheet ? "the key sheet" : "the preferences");
        QWidget* focused = nullptr;
        if (sheet) {
            drop(window().cBack, {dir / "note.txt"});
            focusWindow(window().winId());
            key(QStringLiteral("Return"));
            ASSERT_TRUE(waitFor([] { return swKey::current() && swKey::current()->isActiveWindow(); }, 5000));
            focused = swKey::current();
        } else {
            dialogs::showPreferences();
            settle();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "wPrefs") focused = w;
            ASSERT_NE(focused, nullptr);
            focusWindow(focused->winId());
        }
        const QString id = QString::number(focused->winId());
        ASSERT_EQ(focusedWindow(), id);
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), otherWindow});
        ASSERT_TRUE(waitFor([] { return QApplication::activeWindow() == nullptr; }, 5000));
        ASSERT_TRUE(startAgain());
        EXPECT_TRUE(waitFor([&] { return focusedWindow() == id; }, 5000)) << focusedWindow().toStdString();
        settle();
        EXPECT_EQ(QApplication::activeWindow(), focused);
        if (sheet) {
            typeAtOnce({QStringLiteral("x"), QStringLiteral("y")});
            EXPECT_EQ(swKey::current()->edKey->text(), "xy");
            swKey::current()->bCancel_Action();
        } else {
            focused->close();
        }
        settle();
        focusWindow(window().winId());
        window().ResetWindow();
        settle();
    }
    other.terminate();
    EXPECT_TRUE(other.waitForFinished(15000));
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
    const QProcessEnvironment env = programEnvironment(home.path());
    const auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.setProgram(QStringLiteral(LOCKVANE_PROGRAM));
        p.start();
        return p.waitForStarted();
    };
    QProcess first;
    ASSERT_TRUE(start(first));
    const QString id = windowOfProcess(first);
    ASSERT_FALSE(id.isEmpty());

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

// Names that look like the toolkit's options are documents like any other: the program lists
// them all, encrypts them, and its layout stays left to right whatever the names say.
TEST_F(ThroughX, OptionLikeNamesOnTheCommandLineAreListedAndEncrypted)
{
    const fs::path folder = dir / "names";
    const std::vector<std::string> names = {"-reverse", "-style", "target.txt", "--help",
                                            "-nograb",  "-qwindowtitle", "title.txt", "--"};
    QStringList arguments;
    for (const std::string& name : names) {
        test::writeFile(folder / name, "contents of " + name);
        arguments << QString::fromStdString(name);
    }
    test::TempDir home;
    fs::create_directories(home / "Desktop");
    QProcess program;
    program.setProcessEnvironment(programEnvironment(home.path()));
    program.setWorkingDirectory(QString::fromStdString(folder.native()));
    program.start(QStringLiteral(LOCKVANE_PROGRAM), arguments);
    ASSERT_TRUE(program.waitForStarted());
    const auto stop = qScopeGuard([&] {
        if (program.state() == QProcess::NotRunning) return;
        program.kill();
        program.waitForFinished();
    });
    QString main;
    ASSERT_TRUE(waitFor([&] {
        const QStringList windows = windowsOf(program.processId());
        if (!windows.isEmpty()) main = windows.first();
        return !main.isEmpty();
    }, 15000));
    settle();
    EXPECT_EQ(xdotool({QStringLiteral("getwindowname"), main}).value_or(QString()).toStdString(), "Lockvane");
    const auto send = [&](const QString& target, const QStringList& keys) {
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), target});
        ASSERT_TRUE(xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + keys));
    };
    // The list view has grown once the window is 480 pixels wide.
    ASSERT_TRUE(waitFor([&] { return geometryOf(main).width() >= 480; }, 15000));
    settle();

    // Left to right, the File menu's title lies at the window's left edge: a click there opens
    // it, and a second one closes it.
    const auto clickFileTitle = [&] {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), main, QStringLiteral("15"), QStringLiteral("8"),
                 QStringLiteral("click"), QStringLiteral("1")});
    };
    clickFileTitle();
    EXPECT_TRUE(waitFor([&] { return windowsOf(program.processId()).size() == 2; }, 10000)) << "no File menu at the left";
    clickFileTitle();
    ASSERT_TRUE(waitFor([&] { return windowsOf(program.processId()).size() == 1; }, 10000));

    // Encrypt by keys: Return, then the key in both fields once the sheet is there and the
    // window has shrunk to the job view.
    send(main, {QStringLiteral("Return")});
    QString sheet;
    ASSERT_TRUE(waitFor([&] {
        for (const QString& w : windowsOf(program.processId()))
            if (w != main) sheet = w;
        return !sheet.isEmpty() && geometryOf(main).width() == 340;
    }, 15000));
    settle();
    send(sheet, {QStringLiteral("k"), QStringLiteral("Tab"), QStringLiteral("k"), QStringLiteral("Return")});
    const fs::path encrypted = home / "Desktop" / "EncryptedFile.cdx";
    ASSERT_TRUE(waitFor([&] { return fs::exists(encrypted); }, 60000));  // moved there whole, at the end

    // Opened here, the file gives every name back.
    Lockvane::App()->queueDocuments({FolderItem(encrypted)});
    ASSERT_TRUE(waitFor([&] { return window().view() == View::DecryptQuestion; }));
    window().bYes->click();
    ASSERT_TRUE(waitFor([] { return swKey::current() != nullptr; }));
    swKey::current()->edKey->setText(QStringLiteral("k"));
    swKey::current()->bOk->click();
    ASSERT_TRUE(waitFor([&] { return window().bCancel->text() == "OK"; }, 60000));
    for (const std::string& name : names) {
        const fs::path restored = destination / "DecryptedFiles" / name;
        EXPECT_TRUE(fs::exists(restored) && test::readFile(restored) == "contents of " + name) << name;
    }
}

} // namespace
} // namespace lv
