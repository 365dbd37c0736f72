// Both roads as a user takes them, in a real window: items handed over, Encrypt, the key typed,
// the job watched to its end, and the encrypted file opened and decrypted again.

#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <sys/stat.h>

#include "platform/SpecialFolders.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/Canvases.h"
#include "ui/main/LVDisplay.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::UiFixture;

class RoadsInAWindow : public UiFixture {
protected:
    void handOver(const std::vector<fs::path>& items)
    {
        std::vector<FolderItem> documents;
        for (const fs::path& p : items) documents.emplace_back(p);
        Lockvane::App()->queueDocuments(documents);
        settle();
    }

    // Types `key` into the open sheet (twice when it asks for it) and presses OK.
    void typeKey(const QString& key)
    {
        ASSERT_TRUE(waitFor([] { return swKey::current() != nullptr; }));
        swKey* sheet = swKey::current();
        type(sheet->edKey, key);
        if (sheet->confirming()) type(sheet->edConfirm, key);
        QTest::keyClick(sheet->edKey, Qt::Key_Return);
    }

    // Key by key; what no key of the test keyboard gives is typed as an input method would.
    static void type(QLineEdit* field, const QString& text)
    {
        for (const QChar ch : text) {
            if (ch.unicode() < 128)
                QTest::keyClick(field, ch.toLatin1());
            else
                field->insert(QString(ch));
        }
    }

    bool jobEnded(const char* status)
    {
        return waitFor([&] { return window().stReports->text() == status && window().bCancel->text() == "OK"; }, 120000);
    }

    // Every file and folder below `root`, with a digest of its bytes (files) and its modification
    // time in the two-second steps zip archives keep.
    static std::map<std::string, std::pair<std::string, std::int64_t>> tree(const fs::path& root)
    {
        std::map<std::string, std::pair<std::string, std::int64_t>> entries;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            struct stat st {};
            ::lstat(e.path().c_str(), &st);
            const std::string rel = fs::relative(e.path(), root).native();
            entries[rel] = {e.is_directory() ? std::string("<folder>")
                                             : std::to_string(std::hash<std::string>{}(test::readFile(e.path()))),
                            std::int64_t(st.st_mtime) / 2};
        }
        return entries;
    }

        // Drops items on `target` with the addresses a file manager writes: the names' bytes
    // percent-encoded, whatever they hold.
    static void dropBytes(QWidget* target, const std::vector<fs::path>& items)
    {
        QByteArray list;
        for (const fs::path& item : items)
            list += "file://" + QByteArray::fromStdString(item.native()).toPercentEncoding("/") + "\r\n";
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), list);
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        settle();
    }

    static bool workFilesGone()
    {
        for (const fs::path& folder : SpecialFolders::temporaryCandidates())
            if (fs::exists(folder / "Lockvane.zip") || fs::exists(folder / "Lockvane.cdx")) return false;
        return true;
    }
};

TEST_F(RoadsInAWindow, EncryptThenDecryptGivesEveryByteFolderAndDateBack)
{
    const fs::path source = dir / "source";
    test::writeFile(source / "Letters" / "to Anna.txt", "Dear Anna,\n");
    test::writeFile(source / "Letters" / "Drafts" / "empty.txt", "");
    fs::create_directories(source / "Letters" / "Empty folder");
    test::writeFile(source / "photo.jpg", test::randomBytes(300000, 7));
    fs::last_write_time(source / "photo.jpg", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    prefs().ConfirmKey = true;

    handOver({source / "Letters", source / "photo.jpg"});
    ASSERT_EQ(window().lvdList->ItemCount, 2);
    QTest::mouseClick(window().bEncrypt, Qt::LeftButton);
    settle();
    ASSERT_EQ(window().WindowStatus(), 3);
    typeKey(QStringLiteral("correct horse ✓"));
    ASSERT_TRUE(jobEnded("Encryption Finished."));
    EXPECT_EQ(window().pbProgress->value(), window().pbProgress->maximum());
    QTest::keyClick(&window(), Qt::Key_Return);  // OK
    settle();
    EXPECT_EQ(window().WindowStatus(), 1);
    const fs::path encrypted = destination / "EncryptedFile.cdx";
    ASSERT_TRUE(fs::exists(encrypted));
    EXPECT_TRUE(workFilesGone());

    handOver({encrypted});
    EXPECT_EQ(window().view(), MainWindow::View::DecryptQuestion);
    QTest::mouseClick(window().bYes, Qt::LeftButton);
    settle();
    EXPECT_FALSE(swKey::current()->confirming());
    typeKey(QStringLiteral("correct horse ✓"));
    ASSERT_TRUE(jobEnded("Decryption Complete."));
    QTest::mouseClick(window().bCancel, Qt::LeftButton);
    settle();
    EXPECT_EQ(window().WindowStatus(), 1);
    EXPECT_TRUE(dialogs().messages.empty());

    auto expected = tree(source);
    auto restored = tree(destination / "DecryptedFiles");
    // Folder dates change as their contents are written; the files' dates must come back.
    for (auto* t : {&expected, &restored})
        for (auto& [name, entry] : *t)
            if (entry.first == "<folder>") entry.second = 0;
    EXPECT_EQ(restored, expected);
    EXPECT_TRUE(workFilesGone());
}

TEST_F(RoadsInAWindow, AWrongKeySaysSoAndResetsTheWindow)
{
    const fs::path item = dir / "note.txt";
    test::writeFile(item, "secret");
    prefs().ConfirmKey = false;
    handOver({item});
    window().bEncrypt->click();
    typeKey(QStringLiteral("right"));
    ASSERT_TRUE(jobEnded("Encryption Finished."));
    window().bCancel->click();
    settle();

    handOver({destination / "EncryptedFile.cdx"});
    window().bYes->click();
    typeKey(QStringLiteral("Right"));  // letter case counts
    ASSERT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
    settle();
    EXPECT_EQ(dialogs().messages, std::vector<std::string>{"Incorrect Key."});
    EXPECT_EQ(window().WindowStatus(), 1);
    EXPECT_TRUE(globals().Items.empty());
    EXPECT_FALSE(fs::exists(destination / "DecryptedFiles"));
}

TEST_F(RoadsInAWindow, CancelInTheMiddleLeavesNoOutputAndNoWorkFile)
{
    for (int i = 0; i < 6; ++i) test::writeFile(dir / "big" / ("part" + std::to_string(i)), test::randomBytes(8 << 20, unsigned(i)));
    prefs().ConfirmKey = false;
    handOver({dir / "big"});
    window().bEncrypt->click();
    typeKey(QStringLiteral("k"));
    ASSERT_TRUE(waitFor([&] { return !window().stReports->text().isEmpty(); }));
    window().bCancel->click();  // "Cancel"
    settle();
    EXPECT_EQ(window().WindowStatus(), 1);
    globals().enc->waitForJob();
    settle();
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_TRUE(workFilesGone());
    EXPECT_TRUE(window().stReports->text().isEmpty());  // no late status line from the stopped job
}

TEST_F(RoadsInAWindow, ClosingTheWindowDuringAJobAsksFirst)
{
    for (int i = 0; i < 6; ++i) test::writeFile(dir / "big" / ("part" + std::to_string(i)), test::randomBytes(8 << 20, unsigned(i)));
    prefs().ConfirmKey = false;
    handOver({dir / "big"});
    window().bEncrypt->click();
    typeKey(QStringLiteral("k"));
    ASSERT_TRUE(waitFor([&] { return globals().enc->isBusy(); }));
    dialogs().answerNext(1);  // Cancel: stay
    window().close();
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_EQ(dialogs().messages[0], "Encryption/decryption is in process are you sure you want to quit?");
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(Lockvane::App()->quitting());
    EXPECT_TRUE(jobEnded("Encryption Finished."));  // the job went on
}

TEST_F(RoadsInAWindow, ANameThatIsNotUtf8IsListedReadablyAndComesBackByteForByte)
{
    const std::string name = "caf\xE9 \xFF.txt";  // Latin-1 bytes, no UTF-8
    const fs::path item = dir / "source" / name;
    test::writeFile(item, "latin-1 named");
    prefs().ConfirmKey = false;

    dropBytes(window().cBack, {item});
    ASSERT_EQ(globals().Items.size(), 1u);
    EXPECT_EQ(globals().Items[0].path().native(), item.native());
    ASSERT_EQ(window().lvdList->ItemCount, 1);
    EXPECT_EQ(window().lvdList->Details[0].DisplayName, QStringLiteral("caf\uFFFD \uFFFD.txt"));

    window().bEncrypt->click();
    typeKey(QStringLiteral("k"));
    ASSERT_TRUE(jobEnded("Encryption Finished."));
    EXPECT_TRUE(dialogs().messages.empty()) << dialogs().messages.front();
    window().bCancel->click();
    settle();

    dropBytes(window().cBack, {destination / "EncryptedFile.cdx"});
    window().bYes->click();
    typeKey(QStringLiteral("k"));
    ASSERT_TRUE(jobEnded("Decryption Complete."));
    EXPECT_EQ(test::readFile(destination / "DecryptedFiles" / name), "latin-1 named");
}

TEST_F(RoadsInAWindow, AnItemThatCannotBeArchivedIsNamedWithTheReason)
{
    prefs().ConfirmKey = false;
    struct Case {
        const char* label;
        std::function<void(const fs::path&)> make;     // before it is listed
        std::function<void(const fs::path&)> spoil;    // after
        std::string message;
        std::string reason;
    };
    const Case cases[] = {
        {"gone since it was listed", [](const fs::path& f) { test::writeFile(f, "x"); },
         [](const fs::path& f) { fs::remove(f); }, "Opening the source data stream failed", "No such file or directory"},
        {"2 GB", [](const fs::path& f) { test::writeFile(f, ""); fs::resize_file(f, 2147483648u); },
         [](const fs::path&) {}, "The item is too large for a zip archive (2 GB or more)", "2147483648 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        dialogs().reset();
        const fs::path item = dir / (std::string(c.label) + ".dat");
        c.make(item);
        handOver({item});
        c.spoil(item);
        window().bEncrypt->click();
        typeKey(QStringLiteral("k"));
        ASSERT_TRUE(waitFor([&] { return !dialogs().messages.empty(); }));
        globals().enc->waitForJob();
        settle();
        EXPECT_EQ(dialogs().messages.front(), c.message);
        EXPECT_NE(dialogs().explanations.front().find(item.native()), std::string::npos) << dialogs().explanations.front();
        EXPECT_NE(dialogs().explanations.front().find(c.reason), std::string::npos) << dialogs().explanations.front();
        EXPECT_FALSE(fs::exists(destination / "EncryptedFile.cdx"));
        fs::remove(item);
    }
}

} // namespace
} // namespace lv
