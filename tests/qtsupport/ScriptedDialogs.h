#pragma once
// The user, scripted: message boxes answer at once (a scripted button, by default the box's
// default button) and are recorded; the choosers return what the test put in place; addresses
// and documents handed to other programs are recorded instead of opened.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UserDialogs.h"

namespace lv::test {

class ScriptedDialogs : public UserDialogs {
public:
    // The one the test program installed.
    static ScriptedDialogs& installed();
    static void setInstalled(ScriptedDialogs* dialogs);

    // Forgets everything recorded and scripted.
    void reset();

    // The next boxes answer these buttons, in order; afterwards the default button.
    void answerNext(int button) { m_answers.push_back(button); }
    // Called for every box (after it is recorded); may act like a user would meanwhile.
    std::function<void(const Request&)> onMessage;

    std::optional<FolderItem> chosenItem;    // what chooseFileOrFolder and chooseFile return
    std::optional<FolderItem> chosenFolder;  // what chooseFolder returns

    std::vector<std::string> messages;       // every box's text, in order
    std::vector<std::string> explanations;   // and its explanation
    std::vector<std::string> prompts;        // every chooser's prompt
    std::vector<std::string> urls;           // addresses opened
    std::vector<std::string> documents;      // documents opened

    int message(const Request& request, Icon icon, QWidget* parent) override;
    std::optional<FolderItem> chooseFileOrFolder(const std::string& prompt, QWidget* parent) override;
    std::optional<FolderItem> chooseFile(const std::string& prompt, QWidget* parent) override;
    std::optional<FolderItem> chooseFolder(const FolderItem& start, QWidget* parent) override;
    void openUrl(const std::string& url) override { urls.push_back(url); }
    void openDocument(const FolderItem& file) override { documents.push_back(file.shellPath()); }
    using UserDialogs::message;

private:
    std::deque<int> m_answers;
};

} // namespace lv::test
