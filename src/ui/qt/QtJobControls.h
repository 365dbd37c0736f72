#pragma once
// The job view's controls as the engine drives them: the progress bar, the status text, the
// job button, message boxes and the return of the main window to its drop zone, plus the
// notifier and the attention request.
//
// Workers call these from their own threads; every call is carried to the main thread, in order.
// Once `close` has been called (the job was cancelled, the window reset or the program quits),
// calls still on their way and later ones are dropped, and a message box a worker waits for
// returns at once with its cancel button, so no worker waits for a window that is gone.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

#include "platform/gui/JobControls.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace lv {

class MainWindow;

class QtJobControls : public QObject,
                      public ProgressBar,
                      public StatusText,
                      public JobButton,
                      public MessageBox,
                      public MainWindowReset {
    Q_OBJECT
public:
    struct Widgets {
        QProgressBar* progress = nullptr;
        QLabel* status = nullptr;
        QPushButton* button = nullptr;
        QWidget* parent = nullptr;        // of the message boxes
        MainWindow* window = nullptr;     // reset on failure
        DesktopNotifier* notifier = nullptr;
        WindowAttention* attention = nullptr;
    };

    explicit QtJobControls(const Widgets& widgets, QObject* parent = nullptr);
    ~QtJobControls() override;

    // The controls to hand to the engine for one job.
    JobControls controls();
    // Drops every later call (see above). Main thread.
    void close();
    bool isOpen() const noexcept { return m_live->load(); }

    void setMaximum(std::int32_t maximum) override;
    void setValue(std::int32_t value) override;
    void setText(const std::string& text) override;
    void setCaption(const std::string& caption) override;
    void setDefault(bool isDefault) override;
    int show(const Request& request) override;
    void resetWindow() override;

private:
    // Runs `work` on the main thread while the controls are open.
    void onGuiThread(std::function<void()> work);

    Widgets m_widgets;
    QPointer<QProgressBar> m_progress;
    QPointer<QLabel> m_status;
    QPointer<QPushButton> m_button;
    QPointer<QWidget> m_parent;
    std::shared_ptr<std::atomic<bool>> m_live = std::make_shared<std::atomic<bool>>(true);
};

} // namespace lv
