#pragma once
// The main window: the drop zone, the decrypt question, the item list and the job view, and the
// animated transitions between them. It never makes or destroys a control after it is built: it
// shows, hides and moves its fixed set of controls and resizes itself.
//
//   view              WindowStatus  content size  controls in view
//   drop zone         1             340 x 160     cBack, cBorder, cbAdd, cbAction
//   decrypt question  1             300 x 80      stAreyouSure, bYes (default), bNo
//   item list         2             480 x 260     lvdhHeader, lvdList, sbwMain, bFirstCancel,
//                                                 bEncrypt (default), cBorder, cbAction, cbAdd, cbMinus
//   job view          3             340 x 120     pbProgress, stReports, bCancel ("Cancel", later "OK")
//
// Return presses the visible default button; in the job view Escape presses Cancel while the job
// runs. Controls carry their names as object names. Every transition writes WindowStatus last; while a
// transition animates, user input waits (see Resize), and work handed to `runWhenIdle` (the
// engine's reset, documents from the file manager) waits for the animation to end.

#include <QPointer>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

#include "app/CommandTarget.h"
#include "app/MainWindow.h"
#include "platform/FolderItem.h"
#include "ui/main/AsyncDragWindow.h"
#include "ui/main/CommandTable.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTimer;

namespace lv {

class BottomBar;
class DropZoneCanvas;
class LVDisplay;
class LVDisplayHead;
class ListLineCanvas;
class PictureButton;
class QtJobControls;

class wMain : public AsyncDragWindow, public MainWindow, public CommandTarget {
    Q_OBJECT
public:
    static constexpr const char* AddItemPrompt = "Please choose a file/folder you wish to encrypt.";
    static constexpr const char* EmptyQueueText = "Please select files or folders that you wish to encrypt.";
    static constexpr const char* DecryptQuestionText = "Are you sure you wish to decrypt this file?";

    wMain();
    ~wMain() override;

    // The open main window, or null.
    static wMain* instance();

    // --- MainWindow ---
    QWidget* widget() override { return this; }
    int WindowStatus() const override { return m_status; }
    View view() const override { return m_view; }
    void Transition() override;
    void DecryptTransition() override;
    void ResetWindow() override;
    void runWhenIdle(std::function<void()> work) override;
    int Left() const override { return AsyncDragWindow::Left(); }
    int Top() const override { return AsyncDragWindow::Top(); }

    // To the job view, opening the key sheet.
    void Transition2();
    // From the job view back to the item list (the key sheet's Cancel).
    void TransitionBack();
    // The Add command: a file or folder chosen by the user is queued.
    void AddItemWithDialogue();

    // The controls a new job reports to (the previous job's stop reporting). For the key sheet.
    QtJobControls* newJobControls();

    // The action button's and the list's contextual menu: entries by the state now; the entry
    // chosen, by its text, performed.
    void fillItemMenu(QMenu& menu) const;
    void performMenuEntry(const QString& text);
    // Where the action button's menu opens, in screen coordinates.
    QPoint actionMenuPosition() const;

    // --- CommandTarget ---
    bool answersCommand(const QString& name) const override;
    bool doCommand(const QString& name) override;
    void enableMenuItems(MainMenu& menu) override;

    // The controls, by their names.
    QPushButton* bNo = nullptr;
    QPushButton* bYes = nullptr;
    QLabel* stAreyouSure = nullptr;
    QPushButton* bCancel = nullptr;
    QLabel* stReports = nullptr;
    QProgressBar* pbProgress = nullptr;
    BottomBar* cBorder = nullptr;
    PictureButton* cbAdd = nullptr;
    PictureButton* cbMinus = nullptr;
    QTimer* tmr = nullptr;
    PictureButton* cbAction = nullptr;
    LVDisplayHead* lvdhHeader = nullptr;
    QScrollBar* sbwMain = nullptr;
    QPushButton* bFirstCancel = nullptr;
    QPushButton* bEncrypt = nullptr;
    DropZoneCanvas* cBack = nullptr;
    ListLineCanvas* Canvas1 = nullptr;
    LVDisplay* lvdList = nullptr;

    bool Active = true;
    int CurrentValue = 0;

    // The button Return presses now (the visible default button), or null.
    QPushButton* defaultButton() const;
    // Keeps the window's position for the next start when the window is closed (quitting keeps
    // it in Lockvane::quitNow).
    void storePosition();

protected:
    void Event_Open() override;
    bool Event_Close() override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    void layoutAnchored(QSize content);
    void setStatus(int status, View view);
    // Only the controls of `view` take the focus or answer a key or click; the others stay where
    // they are, shown or not, and are inert.
    void setReach(View view);
    // Up and Down in the item list, whatever control holds the focus.
    void moveSelection(int by);
    void setActive(bool active);
    void refreshMenu();
    void drainIdleWork();

    // Handlers of the controls.
    void bNo_Action();
    void bYes_Action();
    void bCancel_Action();
    void bFirstCancel_Action();
    void bEncrypt_Action();
    void cbAdd_MouseUp();
    void cbMinus_MouseUp();
    void cbAction_MouseUp();
    void sbwMain_ValueChanged(int value);
    void cBack_DropObject(const std::vector<FolderItem>& items, bool link);
    bool lvdList_ObjectDropped(const FolderItem& f);
    void lvdList_ItemRemoved(int row);
    void showItemMenu(const QPoint& at);

    int m_status = 1;
    View m_view = View::DropZone;
    CommandTable m_commands;
    QPointer<QtJobControls> m_jobControls;
    std::deque<std::function<void()>> m_idleWork;
    bool m_drainQueued = false;
    bool m_draining = false;
};

} // namespace lv
