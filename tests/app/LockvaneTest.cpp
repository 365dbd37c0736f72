#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "app/FakeMainWindow.h"
#include "app/Globals.h"
#include "app/Lockvane.h"
#include "app/MainMenu.h"
#include "app/Preferences.h"
#include "engine/LVTagger.h"
#include "platform/Exceptions.h"
#include "platform/SpecialFolders.h"
#include "qtsupport/ScriptedDialogs.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::FakeMainWindow;
using test::ScriptedDialogs;
using test::TempDir;
using View = MainWindow::View;

// An encrypted file's header (and a few body bytes) of the given format version.
void writeEncryptedFile(const fs::path& file, int version)
{
    std::string header = LVTagger::headerBytes("AES", std::string(64, 'd'));
    if (version != 1) {
        const std::string from = "<FileTypeVersion>1<";
        header.replace(header.find(from), from.size(), "<FileTypeVersion>" + std::to_string(version) + "<");
    }
    test::writeFile(file, header + "body");
}

class LockvaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialogs().reset();
        app = std::make_unique<Lockvane>(globals, prefs, [this] {
            auto w = std::make_unique<FakeMainWindow>(globals);
            window = w.get();
            return w;
        });
    }
    void TearDown() override
    {
        app.reset();
        dialogs().reset();
    }
    static ScriptedDialogs& dialogs() { return ScriptedDialogs::installed(); }

    // Opens `item` once the window is idle, as a document handed over does.
    void openDocument(const fs::path& item)
    {
        app->queueDocuments({FolderItem(item)});
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    Globals globals;
    Preferences prefs;
    std::unique_ptr<Lockvane> app;
    FakeMainWindow* window = nullptr;
    TempDir dir;
};

TEST_F(LockvaneTest, StartUpCreatesWorkersSetsTheCipherAndDeletesStaleWorkFiles)
{
    // A crashed job's work files, in the runtime and in the cache work folder.
    std::vector<FolderItem> folders;
    for (const fs::path& candidate : SpecialFolders::temporaryCandidates()) {
        folders.push_back(SpecialFolders::privateFolder(candidate));
        test::writeFile(folders.back().child("Lockvane.cdx").path(), "stale");
        test::writeFile(folders.back().child("Lockvane.zip").path(), "stale plaintext");
    }
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_TRUE(globals.CurrentEncryptionType.empty());

    app->start({});

    EXPECT_TRUE(globals.enc && globals.arc && globals.Checker && globals.arch);
    EXPECT_EQ(globals.CurrentEncryptionType, "Blowfish");
    for (const FolderItem& folder : folders) {
        EXPECT_FALSE(folder.child("Lockvane.cdx").exists());
        EXPECT_FALSE(folder.child("Lockvane.zip").exists());
    }
    EXPECT_FALSE(MainMenu::shared().item("FileRemoveItem")->isEnabled());
    EXPECT_TRUE(window->window.isVisible());
}

TEST_F(LockvaneTest, QuitAsksOnlyInTheJobView)
{
    app->start({});
    struct Case {
        View view;
        int answer;  // 0 Quit, 1 Cancel
        bool keepsRunning;
        bool asks;
    };
    const Case cases[] = {
        {View::DropZone, 0, false, false},     {View::DropZone, 1, false, false},
        {View::DecryptQuestion, 1, false, false}, {View::ItemList, 0, false, false},
        {View::ItemList, 1, false, false},     {View::JobView, 0, false, true},
        {View::JobView, 1, true, true},
    };
    for (const Case& c : cases) {
        dialogs().reset();
        window->show(c.view);
        dialogs().answerNext(c.answer);
        EXPECT_EQ(app->CancelClose(), c.keepsRunning) << int(c.view) << " " << c.answer;
        if (c.asks) {
            ASSERT_EQ(dialogs().messages.size(), 1u);
            EXPECT_EQ(dialogs().messages[0], "Encryption/decryption is in process are you sure you want to quit?");
        } else {
            EXPECT_TRUE(dialogs().messages.empty());
        }
    }
}

TEST_F(LockvaneTest, DocumentsHandedOver)
{
    app->start({});
    const fs::path plain = dir / "notes.txt";
    const fs::path folder = dir / "Photos";
    const fs::path v1 = dir / "old.cdx";
    const fs::path v2 = dir / "future.cdx";
    const fs::path link = dir / "link.cdx";
    test::writeFile(plain, "text");
    fs::create_directory(folder);
    writeEncryptedFile(v1, 1);
    writeEncryptedFile(v2, 2);
    fs::create_symlink(v1, link);

    struct Case {
        const char* name;
        View view;
        fs::path item;
        std::vector<fs::path> queued;  // the queue afterwards (starting empty, or with `plain` in the list)
        const char* call;              // the window's view change, "" for none
        bool laterVersionMessage;
    };
    const Case cases[] = {
        {"plain file", View::DropZone, plain, {plain}, "Transition", false},
        {"folder", View::DropZone, folder, {folder}, "Transition", false},
        {"encrypted, version 1", View::DropZone, v1, {v1}, "DecryptTransition", false},
        {"encrypted, version 2", View::DropZone, v2, {}, "", true},
        {"link to an encrypted file", View::DropZone, link, {v1}, "DecryptTransition", false},
        {"missing", View::DropZone, dir / "gone", {}, "", false},
        {"list: another file", View::ItemList, folder, {plain, folder}, "Transition", false},
        {"list: the same file again", View::ItemList, plain, {plain}, "", false},
        {"list: an encrypted file", View::ItemList, v1, {plain, v1}, "Transition", false},
        {"decrypt question", View::DecryptQuestion, plain, {plain}, "", false},
        {"job view", View::JobView, folder, {plain}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs().reset();
        window->calls.clear();
        globals.Items.clear();
        *globals.Checker = LVTagger();
        if (c.view != View::DropZone) globals.Items.push_back(FolderItem(plain));
        window->show(c.view);

        openDocument(c.item);

        std::vector<fs::path> queued;
        for (const FolderItem& item : globals.Items) queued.push_back(item.path());
        EXPECT_EQ(queued, c.queued);
        EXPECT_EQ(window->calls.empty() ? "" : window->calls.back(), std::string(c.call));
        EXPECT_EQ(dialogs().messages.size(), c.laterVersionMessage ? 1u : 0u);
        if (c.laterVersionMessage) {
            EXPECT_EQ(dialogs().messages[0],
                      "This file was produced by a later version of Lockvane and cannot be decrypted by this version.");
        }
        // The header is read only on the drop zone: a pending decryption keeps its header.
        EXPECT_EQ(globals.Checker->IsLockvane, std::string(c.call) == "DecryptTransition");
    }
}

TEST_F(LockvaneTest, SeveralDocumentsAreOpenedInTurn)
{
    app->start({});
    const fs::path a = dir / "a", b = dir / "b";
    test::writeFile(a, "a");
    test::writeFile(b, "b");
    app->queueDocuments({FolderItem(a), FolderItem(b), FolderItem(a)});
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(globals.Items.size(), 2u);
    EXPECT_EQ(globals.Items[0].path(), a);
    EXPECT_EQ(globals.Items[1].path(), b);
}

TEST_F(LockvaneTest, UnhandledExceptionText)
{
    EXPECT_EQ(Lockvane::unhandledExceptionText(7),
              "There was an error! Error code: #UE7. Please report this code to Tarnwick. The program must now quit.");
    EXPECT_EQ(Lockvane::errorNumberOf(std::make_exception_ptr(RuntimeException("misuse", 7))), 7);
    EXPECT_EQ(Lockvane::errorNumberOf(std::make_exception_ptr(OutOfBoundsException())), 2);
    EXPECT_EQ(Lockvane::errorNumberOf(std::make_exception_ptr(std::bad_alloc())), 3);
    EXPECT_EQ(Lockvane::errorNumberOf(std::make_exception_ptr(42)), 0);
}

// An object whose event handler throws, as a fault in any window's handler would.
class Thrower : public QObject {
protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw NilObjectException();
        return QObject::event(e);
    }
};

TEST_F(LockvaneTest, AnExceptionInAnEventEndsInTheBoxAndAQuitByTheNormalPath)
{
    app->start({});
    prefs.Compress = false;  // a change the quit must write
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_EQ(dialogs().messages[0], Lockvane::unhandledExceptionText(1));
    QCoreApplication::processEvents();
    EXPECT_TRUE(app->quitting());
    Preferences written;
    written.ReadPrefs();
    EXPECT_FALSE(written.Compress);
}

TEST_F(LockvaneTest, AnUncreatableSettingsFolderMeansDefaultsAndNoCrash)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    test::writeFile(dir / "file", "not a folder");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "file" / "config").native()));
    Preferences p;
    p.Compress = false;
    p.ReadPrefs();
    EXPECT_EQ(p.DefaultEncryptionType, "Blowfish");
    EXPECT_FALSE(p.DestinationFolder.isNull());
    EXPECT_FALSE(p.WritePrefs());
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(LockvaneTest, ASecondStartHandsItsDocumentsToTheFirstAndExits)
{
    app->listenForDocuments();
    app->start({});
    const fs::path file = dir / "report.pdf";
    test::writeFile(file, "%PDF");

    QProcess second;
    second.setProgram(QStringLiteral(LOCKVANE_PROGRAM));
    second.setArguments({QString::fromStdString(file.native()), QString::fromStdString((dir / "missing").native())});
    second.start();
    ASSERT_TRUE(second.waitForStarted());
    // The running program answers while the second start waits for it.
    for (int i = 0; i < 1000 && second.state() != QProcess::NotRunning; ++i) {
        QCoreApplication::processEvents();
        second.waitForFinished(10);
    }
    ASSERT_EQ(second.state(), QProcess::NotRunning);
    EXPECT_EQ(second.exitCode(), 0);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(globals.Items.size(), 1u);
    EXPECT_EQ(globals.Items[0].path(), file);
    EXPECT_EQ(window->calls, std::vector<std::string>{"Transition"});
}

// Starts the program with `arguments` as bytes, as a file manager does, in `folder` (the test's
// own folder when empty); its exit status once it ended (the running program answers meanwhile),
// -1 when it did not end.
int startAgain(const std::vector<std::string>& arguments, const fs::path& folder = {})
{
    std::vector<char*> argv{const_cast<char*>(LOCKVANE_PROGRAM)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!folder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, LOCKVANE_PROGRAM, &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
        QCoreApplication::processEvents();
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        QTest::qWait(5);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// Whatever a name looks like (not UTF-8, or like one of the toolkit's options), the second start
// hands it over as it was given, and every argument is a document.
TEST_F(LockvaneTest, ASecondStartHandsOverEveryArgumentByteForByte)
{
    app->listenForDocuments();
    app->start({});
    const std::vector<std::vector<std::string>> cases = {
        {"r\xE9sum\xE9.pdf"},  // Latin-1
        {"-reverse", "target.txt"},
        {"-style", "target.txt"},
        {"--", "--help", "-nograb"},
        {"-qwindowtitle", "x", "-platform", "-display", "-session"},
    };
    for (const std::vector<std::string>& names : cases) {
        SCOPED_TRACE(names.front());
        window->show(View::DropZone);
        globals.Items.clear();
        for (const std::string& name : names) test::writeFile(dir / name, name);
        ASSERT_EQ(startAgain(names, dir.path()), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return globals.Items.size() == names.size(); }, 5000)) << globals.Items.size();
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(globals.Items[i].path().native(), (dir / names[i]).native());
    }
}

TEST_F(LockvaneTest, ASecondStartWithoutDocumentsBringsTheWindowForward)
{
    app->listenForDocuments();
    app->start({});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window->window));
    // Another program's window (a bare window: none of the program's own widgets).
    QWindow other;
    other.show();
    other.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_EQ(startAgain({}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->window.isActiveWindow(); }, 5000));
    EXPECT_TRUE(window->calls.empty());
}

TEST_F(LockvaneTest, QuitKeepsTheWindowsPositionAsClosingDoes)
{
    app->start({});
    window->left = 321;
    window->top = 123;
    MainMenu::shared().dispatch(QStringLiteral("FileQuit"));
    EXPECT_TRUE(app->quitting());
    EXPECT_EQ(prefs.pLeft, 321);
    EXPECT_EQ(prefs.pTop, 123);
}

} // namespace
} // namespace lv
