#pragma once
// Everything that stops the program to ask the user, or hands something to another program:
// message boxes, the choosers, opening a web or mail address and opening a document. Windows and
// the application object ask through this interface only, so tests answer in place of the user.
//
// Main thread only.

#include <optional>
#include <string>

#include "platform/FolderItem.h"
#include "platform/gui/JobControls.h"

class QWidget;

namespace lv {

class UserDialogs {
public:
    enum class Icon { Note, Caution };
    using Request = MessageBox::Request;

    virtual ~UserDialogs() = default;

    // A modal message box over `parent` (null: the application); the index of the button pressed
    // (an empty button list shows one "OK" button and returns 0).
    virtual int message(const Request& request, Icon icon = Icon::Note, QWidget* parent = nullptr) = 0;
    // Lets the user pick one file or one folder; nullopt when cancelled.
    virtual std::optional<FolderItem> chooseFileOrFolder(const std::string& prompt, QWidget* parent) = 0;
    // Lets the user pick one file; nullopt when cancelled.
    virtual std::optional<FolderItem> chooseFile(const std::string& prompt, QWidget* parent) = 0;
    // Lets the user pick one folder, starting at `start`; nullopt when cancelled.
    virtual std::optional<FolderItem> chooseFolder(const FolderItem& start, QWidget* parent) = 0;
    // Opens a web or mail address with the desktop's handler; the address is handed over as given.
    virtual void openUrl(const std::string& url) = 0;
    // Opens a file with the desktop's default application for it.
    virtual void openDocument(const FolderItem& file) = 0;

    // A box with one "OK" button.
    void message(const std::string& text, QWidget* parent = nullptr) { message(Request{text, {}, {}, 0, -1}, Icon::Note, parent); }

    // The dialogs the program uses: the Qt ones unless a test put its own in place.
    static UserDialogs& shared();
    // Puts `dialogs` in place (not owned; null: back to the Qt ones).
    static void setShared(UserDialogs* dialogs);
};

// The real boxes and choosers.
class QtUserDialogs : public UserDialogs {
public:
    int message(const Request& request, Icon icon, QWidget* parent) override;
    std::optional<FolderItem> chooseFileOrFolder(const std::string& prompt, QWidget* parent) override;
    std::optional<FolderItem> chooseFile(const std::string& prompt, QWidget* parent) override;
    std::optional<FolderItem> chooseFolder(const FolderItem& start, QWidget* parent) override;
    void openUrl(const std::string& url) override;
    void openDocument(const FolderItem& file) override;
    using UserDialogs::message;
};

} // namespace lv
