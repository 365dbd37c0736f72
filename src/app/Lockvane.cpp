#include "app/Lockvane.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <new>

#include "app/DBusNotifier.h"
#include "app/Globals.h"
#include "app/MainMenu.h"
#include "app/MainWindow.h"
#include "app/Preferences.h"
#include "app/QtWindowAttention.h"
#include "app/SingleInstance.h"
#include "app/UnreadableFile.h"
#include "app/UserDialogs.h"
#include "app/X11Focus.h"
#include "engine/JobSettings.h"
#include "engine/KeyCheck.h"
#include "engine/WorkFolder.h"
#include "platform/Exceptions.h"

namespace lv {

namespace {

Lockvane* g_app = nullptr;

constexpr const char* QuitQuestion = "Encryption/decryption is in process are you sure you want to quit?";
constexpr const char* QuitExplanation = "Quitting now will cancel the current process.";

// The item a document stands for when its header is read: a link is followed to what it names.
FolderItem resolved(const FolderItem& item)
{
    if (!item.isAlias()) return item;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(item.path(), error);
    return error ? item : FolderItem(target);
}

bool alreadyQueued(const std::vector<FolderItem>& items, const FolderItem& item)
{
    for (const FolderItem& queued : items)
        if (queued.shellPath() == item.shellPath()) return true;
    return false;
}

} // namespace

Lockvane::Lockvane(Globals& globals, Preferences& prefs, WindowFactory makeMainWindow)
    : m_globals(globals), m_prefs(prefs), m_makeMainWindow(std::move(makeMainWindow))
{
    g_app = this;
    m_notifier = new DBusNotifier(this);
    m_attention = new QtWindowAttention(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
            if (focused) m_lastFocus = focused;
        });
}

Lockvane::~Lockvane()
{
    MainMenu::shared().setQuitHandler(nullptr);
    stopJobs();
    m_window.reset();
    m_globals.setNotifier(nullptr);
    m_globals.setAttention(nullptr);
    if (g_app == this) g_app = nullptr;
}

Lockvane* Lockvane::App() { return g_app; }

int Lockvane::run(const std::vector<FolderItem>& documents)
{
    if (SingleInstance::handOver(documents, 2000)) return 0;
    listenForDocuments();
    try {
        start(documents);
    } catch (...) {
        UnhandledException(errorNumberOf(std::current_exception()));
        return 1;
    }
    return QApplication::exec();
}

void Lockvane::listenForDocuments()
{
    if (m_instance) return;
    m_instance = new SingleInstance(this);
    m_instance->listen();
    connect(m_instance, &SingleInstance::documentsReceived, this, [this](const std::vector<FolderItem>& received) {
        // A later start, with documents or without, brings the running window forward.
        bringWindowForward();
        queueDocuments(received);
    });
}

void Lockvane::start(const std::vector<FolderItem>& documents)
{
    MainMenu::shared().setQuitHandler([this] { requestQuit(); });
    Open();
    m_window = m_makeMainWindow();
    m_attention->setWindow(m_window->widget());
    m_window->widget()->show();
    queueDocuments(documents);
}

void Lockvane::Open()
{
    m_prefs.ReadPrefs();
    m_globals.createWorkers();
    m_globals.setNotifier(m_notifier);
    m_globals.setAttention(m_attention);
    deleteWorkFiles();
    if (QAction* remove = MainMenu::shared().item(QStringLiteral("FileRemoveItem"))) remove->setEnabled(false);
    m_globals.CurrentEncryptionType = m_prefs.DefaultEncryptionType;
}

void Lockvane::Close()
{
    if (m_closed) return;
    m_closed = true;
    m_prefs.WritePrefs();  // a settings file that can't be written is lost quietly
    deleteWorkFiles();
}

bool Lockvane::CancelClose()
{
    if (!m_window || m_window->WindowStatus() != 3) return false;
    UserDialogs::Request request;
    request.message = QuitQuestion;
    request.explanation = QuitExplanation;
    request.buttons = {"Quit", "Cancel"};
    request.defaultButton = 0;
    request.cancelButton = 1;
    const int pressed = UserDialogs::shared().message(request, UserDialogs::Icon::Caution, m_window->widget());
    return pressed == 1;
}

std::string Lockvane::unhandledExceptionText(int errorNumber)
{
    return "There was an error! Error code: #UE" + std::to_string(errorNumber) +
           ". Please report this code to Tarnwick. The program must now quit.";
}

int Lockvane::errorNumberOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const RuntimeException& e) {
        return e.errorNumber();
    } catch (const std::bad_alloc&) {
        return OutOfMemoryException().errorNumber();
    } catch (...) {
        return 0;
    }
}

bool Lockvane::UnhandledException(int errorNumber)
{
    static bool showing = false;
    if (showing) return true;  // one box, even when the box itself fails
    showing = true;
    UserDialogs::shared().message(unhandledExceptionText(errorNumber), m_window ? m_window->widget() : nullptr);
    showing = false;
    // The box says the program quits: it does, by the normal path.
    QTimer::singleShot(0, this, [this] {
        if (!m_quitting) quitNow();
    });
    return true;
}

void Lockvane::OpenDocument(const FolderItem& item)
{
    if (!m_window || !item.exists()) return;
    Globals& g = m_globals;
    switch (m_window->view()) {
    case MainWindow::View::JobView:
    case MainWindow::View::DecryptQuestion:
        // A pending job or decryption keeps its file and its header.
        return;
    case MainWindow::View::ItemList:
        // Queued to encrypt, like a drop on the list: one row, none twice.
        if (alreadyQueued(g.Items, item)) return;
        g.Items.push_back(item);
        m_window->Transition();
        return;
    case MainWindow::View::DropZone:
        break;
    }
    const FolderItem target = resolved(item);
    if (UnreadableFile::refuse(target, m_window->widget())) return;
    LVTagger header;
    if (target.isFile() && header.CheckTag(target)) {
        if (KeyCheck::isLaterVersion(header)) {
            UserDialogs::shared().message(KeyCheck::LaterVersionText, m_window->widget());
            return;
        }
        *g.Checker = header;
        g.Items.push_back(target);
        m_window->DecryptTransition();
        return;
    }
    g.Items.push_back(item);
    m_window->Transition();
}

void Lockvane::queueDocuments(const std::vector<FolderItem>& documents)
{
    for (const FolderItem& item : documents) m_documents.push_back(item);
    if (!m_documents.empty()) bringWindowForward();
    openNextDocument();
}

void Lockvane::bringWindowForward()
{
    if (!m_window) return;
    QWidget* window = m_window->widget();
    if (window->isMinimized()) window->showNormal();
    window->raise();
    QWidget* focus = windowToFocus();
    if (focus != window) focus->raise();
    focus->activateWindow();
    X11Focus::giveTo(focus);
}

QWidget* Lockvane::windowToFocus() const
{
    QWidget* main = m_window->widget();
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) return modal;
    if (!m_lastFocus) return main;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == m_lastFocus && w->isVisible() && !w->isMinimized() && w->windowType() != Qt::Popup)
            return w;
    return main;
}

void Lockvane::openNextDocument()
{
    // One document at a time, each once the window has finished the view change of the last.
    if (m_openingDocument || m_documents.empty() || !m_window) return;
    m_openingDocument = true;
    m_window->runWhenIdle([this] {
        const FolderItem item = m_documents.front();
        m_documents.pop_front();
        OpenDocument(item);
        m_openingDocument = false;
        openNextDocument();
    });
}

bool Lockvane::requestQuit()
{
    if (m_quitting) return true;
    if (CancelClose()) return false;
    quitNow();
    return true;
}

void Lockvane::quitNow()
{
    m_quitting = true;
    // Every way of quitting keeps the window's position, as closing it does.
    if (m_window && m_window->widget()->isVisible()) {
        m_prefs.pLeft = m_window->Left();
        m_prefs.pTop = m_window->Top();
    }
    stopJobs();
    // The other windows close first: what they store as they close reaches the settings file.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (!m_window || w != m_window->widget())) w->close();
    Close();
    QApplication::quit();
}

void Lockvane::stopJobs()
{
    // Every thread of a job ends before the windows it reports to go.
    if (m_globals.enc) {
        if (m_globals.enc->isBusy()) m_globals.enc->Kill();
        m_globals.enc->waitUntilIdle();
    }
    if (m_globals.arc) m_globals.arc->Cancel();
    if (m_globals.arch) m_globals.arch->wait();
}

void Lockvane::deleteWorkFiles() { removeStaleWorkFiles(); }

} // namespace lv
