#pragma once
// The controls a worker drives while a job runs, as interfaces: the GUI provides the Qt
// realisation (each call marshalled to the GUI thread), tests provide recording doubles.
// Every call may come from a worker thread. Texts are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace lv {

// The job view's progress bar; a maximum of 0 shows an indeterminate bar.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void setMaximum(std::int32_t maximum) = 0;
    virtual void setValue(std::int32_t value) = 0;
};

// The job view's status line.
class StatusText {
public:
    virtual ~StatusText() = default;
    virtual void setText(const std::string& text) = 0;
};

// The job view's button ("Cancel" while a job runs, "OK" when it has finished).
class JobButton {
public:
    virtual ~JobButton() = default;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setDefault(bool isDefault) = 0;
};

// A modal message box. `show` blocks until the user answers and returns the index of the button
// pressed in `buttons` (an empty list shows one "OK" button and returns 0).
class MessageBox {
public:
    struct Request {
        std::string message;
        std::string explanation;
        std::vector<std::string> buttons;
        int defaultButton = 0;
        int cancelButton = -1;  // the button that Escape presses, -1 for none
    };
    virtual ~MessageBox() = default;
    virtual int show(const Request& request) = 0;
    void showMessage(const std::string& message) { show(Request{message, {}, {}, 0, -1}); }
};

// The main window's return to its drop zone.
class MainWindowReset {
public:
    virtual ~MainWindowReset() = default;
    virtual void resetWindow() = 0;
};

// Desktop notifications under the program's notification names. Posting when no notification
// service is there does nothing.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    virtual void post(const std::string& name, const std::string& title, const std::string& description) = 0;
};

// The window's attention request (the Dock icon bounce) and bringing all windows to the front.
class WindowAttention {
public:
    virtual ~WindowAttention() = default;
    virtual void requestAttention() = 0;
    virtual void bringAllToFront() = 0;
};

// Everything one job reaches of the GUI.
struct JobControls {
    ProgressBar* progress = nullptr;
    StatusText* status = nullptr;
    JobButton* button = nullptr;
    MessageBox* messages = nullptr;
    MainWindowReset* window = nullptr;
    DesktopNotifier* notifier = nullptr;
    WindowAttention* attention = nullptr;
};

} // namespace lv
