#pragma once
// The application object: brings the program up in its fixed order, answers the quit request,
// the quit, unexpected exceptions and the documents the file manager hands over, and takes the
// program down so that no window goes while a worker still runs.
//
// Start-up (`run`): a later start hands its documents to the running program and ends; otherwise
// the menu bar is made, `Open` runs (settings read, the four workers, stale work files deleted,
// Remove Item disabled, the cipher of the next job), the main window is made and shown, each
// document given is opened, and the event loop runs until quit.

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/FolderItem.h"

class QWidget;
class QWindow;

namespace lv {

class DBusNotifier;
class Globals;
class MainWindow;
class Preferences;
class QtWindowAttention;
class SingleInstance;

class Lockvane : public QObject {
    Q_OBJECT
public:
    using WindowFactory = std::function<std::unique_ptr<MainWindow>()>;

    // `makeMainWindow` builds the main window (the window lives in ui/main).
    Lockvane(Globals& globals, Preferences& prefs, WindowFactory makeMainWindow);
    ~Lockvane() override;

    // The application object while one exists.
    static Lockvane* App();

    // The whole start-up sequence and the event loop; the program's exit code. `documents` are
    // the paths given on the command line.
    int run(const std::vector<FolderItem>& documents);
    // Listens for the documents of later starts.
    void listenForDocuments();
    // The start-up sequence without the event loop: menu bar, Open, the main window shown, the
    // documents queued.
    void start(const std::vector<FolderItem>& documents);

    // --- the application's events ---
    void Open();
    void Close();
    // True keeps the program running: asked only while the main window shows its job view.
    bool CancelClose();
    // The last-chance box for an exception nothing caught; the program then quits by the normal
    // path. Returns true (handled).
    bool UnhandledException(int errorNumber);
    void OpenDocument(const FolderItem& item);

    // The text of the last-chance box for an error number.
    static std::string unhandledExceptionText(int errorNumber);
    // The error number of an exception (0 when it carries none).
    static int errorNumberOf(const std::exception_ptr& error);

    // Quit requested (Quit, closing the main window): asks as `CancelClose` does; when the
    // answer is to quit, stops the running job, runs `Close` and ends the event loop. False when
    // the quit was refused.
    bool requestQuit();
    bool quitting() const noexcept { return m_quitting; }

    // The main window (null before start-up made it).
    MainWindow* mainWindow() const { return m_window.get(); }
    // Queues documents handed over; each is opened once the window is idle.
    void queueDocuments(const std::vector<FolderItem>& documents);

    DBusNotifier& notifier() { return *m_notifier; }
    QtWindowAttention& attention() { return *m_attention; }

    // Deletes the work files a job left ("Lockvane.cdx" and "Lockvane.zip"), in every work folder
    // no running job holds.
    static void deleteWorkFiles();

private:
    void openNextDocument();
    // A later start brings the program forward with the focus where it was: on the window of the
    // program that had it last (a sheet, a dialog), else on the main window.
    void bringWindowForward();
    QWidget* windowToFocus() const;
    void stopJobs();
    // Stops the jobs, closes the other windows, runs Close and ends the event loop.
    void quitNow();

    Globals& m_globals;
    Preferences& m_prefs;
    WindowFactory m_makeMainWindow;
    std::unique_ptr<MainWindow> m_window;
    DBusNotifier* m_notifier = nullptr;
    QtWindowAttention* m_attention = nullptr;
    SingleInstance* m_instance = nullptr;
    std::deque<FolderItem> m_documents;
    QPointer<QWindow> m_lastFocus;
    bool m_openingDocument = false;
    bool m_quitting = false;
    bool m_closed = false;
};

} // namespace lv
