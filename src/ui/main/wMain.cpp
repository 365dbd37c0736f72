#include "ui/main/wMain.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>

#include "app/DBusNotifier.h"
#include "app/Globals.h"
#include "app/Lockvane.h"
#include "app/MainMenu.h"
#include "app/Preferences.h"
#include "app/QtWindowAttention.h"
#include "app/UnreadableFile.h"
#include "app/UserDialogs.h"
#include "engine/KeyCheck.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/Artwork.h"
#include "ui/main/Canvases.h"
#include "ui/main/LVDisplay.h"
#include "ui/main/LVDisplayHead.h"
#include "ui/main/Resize.h"
#include "ui/main/SharedCommands.h"
#include "ui/qt/QtJobControls.h"

namespace lv {

namespace {

wMain* g_window = nullptr;

// The content area, which keeps the anchored controls at their distance to its edges.
class ContentArea : public QWidget {
public:
    std::function<void(QSize)> onResize;

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (onResize) onResize(event->size());
    }
};

QPushButton* pushButton(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

QLabel* staticText(QWidget* parent, const char* name, const QString& text, QRect geometry, Qt::Alignment alignment)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);  // what a job reports is shown as it is
    label->setStyleSheet(QStringLiteral("color: black;"));
    return label;
}

// The screen whose work area holds `point`, or null.
const QScreen* screenHolding(QPoint point)
{
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(point)) return screen;
    return nullptr;
}

} // namespace

wMain::wMain()
{
    g_window = this;
    setObjectName(QStringLiteral("wMain"));
    setWindowTitle(QStringLiteral("Lockvane"));
    setWindowIcon(Artwork::applicationIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setMenuBar(MainMenu::shared().createMenuBar(this));
    buildControls();
    setReach(View::DropZone);
    // A push button holds the focus in the list view and would take the arrows as focus moves.
    for (const auto& [key, by] : {std::pair{Qt::Key_Up, -1}, {Qt::Key_Down, 1}}) {
        auto* arrow = new QShortcut(QKeySequence(key), this);
        arrow->setContext(Qt::WindowShortcut);
        connect(arrow, &QShortcut::activated, this, [this, by = by] { moveSelection(by); });
    }
    Resize::setContentSize(this, QSize(340, 160));
    SharedCommands::install(m_commands, this, SharedCommands::MainWindowCommands);
    m_commands.add(QStringLiteral("FileAddItem"), [this] {
        if (m_status < 3) AddItemWithDialogue();
        return false;
    });
    m_commands.add(QStringLiteral("FileRemoveItem"), [this] {
        if (m_status < 3 && lvdList->RowSelected) lvdList->Remove(lvdList->SelectedRow);
        return false;
    });
}

wMain::~wMain()
{
    if (m_jobControls) m_jobControls->close();
    if (g_window == this) g_window = nullptr;
}

wMain* wMain::instance() { return g_window; }

void wMain::buildControls()
{
    auto* content = new ContentArea;
    content->setObjectName(QStringLiteral("content"));
    setCentralWidget(content);
    QWidget* c = content;

    bNo = pushButton(c, "bNo", "No", {112, 46, 80, 20});
    bNo->hide();
    bYes = pushButton(c, "bYes", "Yes", {204, 46, 80, 20});
    bYes->setDefault(true);
    bYes->hide();
    stAreyouSure = staticText(c, "stAreyouSure", QString::fromLatin1(DecryptQuestionText), {18, 14, 264, 20}, Qt::AlignLeft);
    stAreyouSure->hide();
    bCancel = pushButton(c, "bCancel", "Cancel", {130, 78, 80, 20});
    // Not a key's to press while a job runs; "OK" is the default button, which Return presses.
    bCancel->setFocusPolicy(Qt::NoFocus);
    bCancel->hide();
    stReports = staticText(c, "stReports", QString(), {20, 46, 300, 20}, Qt::AlignHCenter);
    stReports->hide();
    pbProgress = new QProgressBar(c);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setGeometry(20, 14, 300, 20);
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    pbProgress->setTextVisible(false);
    pbProgress->hide();
    cBorder = new BottomBar(c);
    cBorder->setObjectName(QStringLiteral("cBorder"));
    cBorder->setGeometry(-1, 137, 341, 24);
    cbAdd = new PictureButton(Artwork::Button::Add, c);
    cbAdd->setObjectName(QStringLiteral("cbAdd"));
    cbAdd->setGeometry(29, 137, 32, 25);
    cbAdd->setToolTip(QStringLiteral("Add a file/folder"));
    cbMinus = new PictureButton(Artwork::Button::Minus, c);
    cbMinus->setObjectName(QStringLiteral("cbMinus"));
    cbMinus->setGeometry(60, 137, 32, 25);
    cbMinus->setToolTip(QStringLiteral("Remove a file/folder"));
    cbMinus->setEnabled(false);
    cbMinus->hide();
    tmr = new QTimer(this);
    tmr->setObjectName(QStringLiteral("tmr"));
    cbAction = new PictureButton(Artwork::Button::Action, c);
    cbAction->setObjectName(QStringLiteral("cbAction"));
    cbAction->setGeometry(0, 137, 32, 25);
    lvdhHeader = new LVDisplayHead(c);
    lvdhHeader->setGeometry(25, 22, 430, 19);
    lvdhHeader->hide();
    sbwMain = new QScrollBar(Qt::Vertical, c);
    sbwMain->setObjectName(QStringLiteral("sbwMain"));
    sbwMain->setGeometry(444, 40, 11, 151);
    sbwMain->setRange(0, 0);
    sbwMain->setSingleStep(1);
    sbwMain->setPageStep(100);
    sbwMain->setTracking(true);
    bFirstCancel = pushButton(c, "bFirstCancel", "Cancel", {274, 205, 80, 20});
    bEncrypt = pushButton(c, "bEncrypt", "Encrypt", {375, 205, 80, 20});
    cBack = new DropZoneCanvas(c);
    cBack->setObjectName(QStringLiteral("cBack"));
    cBack->setGeometry(0, 0, 340, 139);
    Canvas1 = new ListLineCanvas(c);
    Canvas1->setObjectName(QStringLiteral("Canvas1"));
    Canvas1->setGeometry(25, 22, 419, 181);
    lvdList = new LVDisplay(c);
    lvdList->setGeometry(25, 40, 419, 150);
    lvdList->hide();

    // The bottom bar's buttons lie over the drop zone's lower edge.
    cbAdd->raise();
    cbMinus->raise();
    cbAction->raise();

    connect(bNo, &QPushButton::clicked, this, &wMain::bNo_Action);
    connect(bYes, &QPushButton::clicked, this, &wMain::bYes_Action);
    connect(bCancel, &QPushButton::clicked, this, &wMain::bCancel_Action);
    connect(bFirstCancel, &QPushButton::clicked, this, &wMain::bFirstCancel_Action);
    connect(bEncrypt, &QPushButton::clicked, this, &wMain::bEncrypt_Action);
    connect(cbAdd, &PictureButton::mouseUp, this, &wMain::cbAdd_MouseUp);
    connect(cbMinus, &PictureButton::mouseUp, this, &wMain::cbMinus_MouseUp);
    connect(cbAction, &PictureButton::mouseUp, this, &wMain::cbAction_MouseUp);
    connect(sbwMain, &QScrollBar::valueChanged, this, &wMain::sbwMain_ValueChanged);
    connect(cBack, &DropZoneCanvas::dropped, this, &wMain::cBack_DropObject);
    lvdList->onObjectDropped = [this](const FolderItem& f) { return lvdList_ObjectDropped(f); };
    connect(lvdList, &LVDisplay::ItemRemoved, this, &wMain::lvdList_ItemRemoved);
    connect(lvdList, &LVDisplay::Unselected, this, [this] { lvdList->cancelSelection(); });
    connect(lvdList, &LVDisplay::selectionChanged, this, &wMain::refreshMenu);
    connect(lvdList, &LVDisplay::contextMenuRequested, this, &wMain::showItemMenu);

    content->onResize = [this](QSize size) { layoutAnchored(size); };
}

void wMain::layoutAnchored(QSize content)
{
    // Anchored to the bottom (and, for the bar, to both sides) as they were in the 340 x 160 view.
    const int y = content.height() - 23;
    cBorder->setGeometry(-1, y, content.width() + 1, 24);
    cbAdd->move(29, y);
    cbMinus->move(60, y);
    cbAction->move(0, y);
}

void wMain::setStatus(int status, View view)
{
    m_view = view;
    m_status = status;
    refreshMenu();
}

void wMain::setReach(View view)
{
    const auto reach = [](QWidget* control, bool inView) {
        if (!inView && control->hasFocus()) control->clearFocus();
        control->setEnabled(inView);
    };
    reach(bNo, view == View::DecryptQuestion);
    reach(bYes, view == View::DecryptQuestion);
    reach(bCancel, view == View::JobView);
    reach(sbwMain, view == View::ItemList);
    reach(bFirstCancel, view == View::ItemList);
    reach(bEncrypt, view == View::ItemList);
}

void wMain::refreshMenu() { MainMenu::shared().refreshSoon(); }

QPushButton* wMain::defaultButton() const
{
    // Buttons outside the content frame (Encrypt in the job view) are out of reach.
    const QRect frame(QPoint(0, 0), Resize::contentSize(this));
    for (QPushButton* button : {bYes, bEncrypt, bCancel})
        if (button->isVisible() && button->isDefault() && button->isEnabled() && frame.contains(button->geometry()))
            return button;
    return nullptr;
}

// --- transitions -----------------------------------------------------------------------------------

void wMain::Transition()
{
    setReach(View::ItemList);
    lvdhHeader->show();
    lvdList->show();
    cBack->hide();
    // Coming from the decrypt question (Add Item there), the question goes and the bar returns.
    stAreyouSure->hide();
    bYes->hide();
    bNo->hide();
    cBorder->show();
    cbAdd->show();
    cbAction->show();
    cbMinus->show();
    cbMinus->setEnabled(true);
    bEncrypt->show();
    bEncrypt->setDefault(true);
    bFirstCancel->show();
    Resize::SmoothResize(this, 480, 260, *tmr);
    Globals::shared().DoingEncrypt = true;
    const std::vector<FolderItem>& items = Globals::shared().Items;
    for (std::size_t i = std::size_t(lvdList->ItemCount); i < items.size(); ++i) lvdList->Update(items[i]);
    setStatus(2, View::ItemList);
}

void wMain::Transition2()
{
    setReach(View::JobView);
    cBack->hide();
    lvdhHeader->hide();
    lvdList->hide();
    pbProgress->show();
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    stReports->show();
    bCancel->show();
    cbAdd->hide();
    cbAction->hide();
    cbMinus->hide();
    cBorder->hide();
    Resize::DeclareResize(this, 340, 120, Resize::TopLeft);
    MainMenu& menu = MainMenu::shared();
    if (QAction* add = menu.item(QStringLiteral("FileAddItem"))) add->setEnabled(false);
    if (QAction* remove = menu.item(QStringLiteral("FileRemoveItem"))) remove->setEnabled(false);
    setStatus(3, View::JobView);
    swKey::showWithin(this);
}

void wMain::ResetWindow()
{
    setReach(View::DropZone);
    if (m_jobControls) m_jobControls->close();  // a job's late calls no longer reach the window
    pbProgress->hide();
    stReports->hide();
    bCancel->hide();
    cbMinus->hide();
    cbAdd->show();
    cbAction->show();
    cBorder->show();
    cBack->show();
    lvdList->hide();
    bEncrypt->hide();
    bFirstCancel->hide();
    lvdhHeader->hide();
    stAreyouSure->hide();
    stReports->clear();
    bCancel->setText(QStringLiteral("Cancel"));
    bCancel->setDefault(false);
    bYes->hide();
    bNo->hide();
    cBack->setPicture(Active ? Artwork::DropZone::Active : Artwork::DropZone::Inactive);
    Resize::SmoothResize(this, 340, 160, *tmr);
    Globals::shared().Items.clear();
    lvdList->Reset();
    setStatus(1, View::DropZone);
}

void wMain::DecryptTransition()
{
    setReach(View::DecryptQuestion);
    cBack->hide();
    cbAdd->hide();
    cbAction->hide();
    cBorder->hide();
    stAreyouSure->show();
    bYes->show();
    bNo->show();
    Globals::shared().DoingEncrypt = false;
    Resize::SmoothResize(this, 300, 80, *tmr);
    setStatus(1, View::DecryptQuestion);
}

void wMain::TransitionBack()
{
    setReach(View::ItemList);
    lvdhHeader->show();
    lvdList->show();
    cBack->hide();
    cbMinus->show();
    cbMinus->setEnabled(true);
    bEncrypt->show();
    bEncrypt->setDefault(true);
    bFirstCancel->show();
    cbAdd->show();
    cbAction->show();
    cBorder->show();
    stReports->hide();
    pbProgress->hide();
    bCancel->hide();
    Resize::SmoothResize(this, 480, 260, *tmr);
    Globals::shared().DoingEncrypt = true;
    setStatus(2, View::ItemList);
}

void wMain::runWhenIdle(std::function<void()> work)
{
    m_idleWork.push_back(std::move(work));
    if (m_drainQueued) return;
    m_drainQueued = true;
    QTimer::singleShot(0, this, &wMain::drainIdleWork);
}

void wMain::drainIdleWork()
{
    m_drainQueued = false;
    if (m_draining) return;
    if (Resize::animating()) {
        // Try again once the animation has ended.
        m_drainQueued = true;
        QTimer::singleShot(Resize::TickMilliseconds, this, &wMain::drainIdleWork);
        return;
    }
    m_draining = true;
    while (!m_idleWork.empty()) {
        std::function<void()> work = std::move(m_idleWork.front());
        m_idleWork.pop_front();
        work();
    }
    m_draining = false;
}

// --- the controls' handlers ------------------------------------------------------------------------

void wMain::bNo_Action() { ResetWindow(); }

void wMain::bYes_Action()
{
    bNo->hide();
    bYes->hide();
    stAreyouSure->hide();
    Transition2();
}

void wMain::bCancel_Action()
{
    if (bCancel->text() != QLatin1String("OK")) {
        Globals& g = Globals::shared();
        if (g.arc) g.arc->Cancel();
        if (g.enc) g.enc->Kill();
    }
    ResetWindow();
}

void wMain::bFirstCancel_Action() { ResetWindow(); }

void wMain::bEncrypt_Action()
{
    if (Globals::shared().Items.empty()) {
        UserDialogs::shared().message(EmptyQueueText, this);
        return;
    }
    Transition2();
}

void wMain::cbAdd_MouseUp()
{
    AddItemWithDialogue();
    cbAdd->setPressed(false);
}

void wMain::cbMinus_MouseUp()
{
    if (lvdList->RowSelected) lvdList->Remove(lvdList->SelectedRow);
    cbMinus->setPressed(false);
}

void wMain::cbAction_MouseUp()
{
    showItemMenu(actionMenuPosition());
    cbAction->setPressed(false);
}

void wMain::sbwMain_ValueChanged(int value)
{
    lvdList->ScrollValue = value;
    lvdList->update();
    CurrentValue = value;
}

void wMain::cBack_DropObject(const std::vector<FolderItem>& items, bool link)
{
    if (items.empty() || m_status != 1 || m_view != View::DropZone) return;
    Globals& g = Globals::shared();
    LVTagger header;
    const FolderItem first = items.front();
    FolderItem target = first;
    if (first.isAlias())
        if (auto resolved = first.resolveAlias()) target = *resolved;
    if (target.isFile() && header.CheckTag(target)) {
        if (KeyCheck::isLaterVersion(header)) {
            UserDialogs::shared().message(KeyCheck::LaterVersionText, this);
            return;
        }
        *g.Checker = header;
        g.Items.push_back(target);
        if (Preferences::shared().DecryptReminder) {
            DecryptTransition();
        } else {
            g.DoingEncrypt = false;
            Transition2();
        }
        return;
    }
    // The items that can't be read are named and left out; the others are listed (a first item
    // that can't be read has no header: the drop is one of plain items).
    const std::vector<FolderItem> readable = UnreadableFile::readableOf(items, this);
    if (readable.empty()) return;
    if (!link)
        for (const FolderItem& item : readable) g.Items.push_back(item);
    Transition();
}

bool wMain::lvdList_ObjectDropped(const FolderItem& f)
{
    std::vector<FolderItem>& items = Globals::shared().Items;
    for (const FolderItem& queued : items)
        if (queued.shellPath() == f.shellPath()) return false;  // exactly, letter case included
    items.push_back(f);
    return true;
}

void wMain::lvdList_ItemRemoved(int row)
{
    std::vector<FolderItem>& items = Globals::shared().Items;
    if (row >= 1 && std::size_t(row) <= items.size()) items.erase(items.begin() + (row - 1));
}

void wMain::AddItemWithDialogue()
{
    const std::optional<FolderItem> chosen = UserDialogs::shared().chooseFileOrFolder(AddItemPrompt, this);
    if (!chosen) return;
    Globals::shared().Items.push_back(*chosen);
    if (m_status == 1)
        Transition();
    else
        lvdList->Update(*chosen);
}

QtJobControls* wMain::newJobControls()
{
    if (m_jobControls) {
        m_jobControls->close();
        m_jobControls->deleteLater();
    }
    Lockvane* app = Lockvane::App();
    QtJobControls::Widgets widgets;
    widgets.progress = pbProgress;
    widgets.status = stReports;
    widgets.button = bCancel;
    widgets.parent = this;
    widgets.window = this;
    widgets.notifier = app ? static_cast<DesktopNotifier*>(&app->notifier()) : nullptr;
    widgets.attention = app ? static_cast<WindowAttention*>(&app->attention()) : nullptr;
    m_jobControls = new QtJobControls(widgets, this);
    return m_jobControls;
}

// --- menus -----------------------------------------------------------------------------------------

void wMain::fillItemMenu(QMenu& menu) const
{
    menu.addAction(QStringLiteral("Add"));
    if (m_status == 2) {
        menu.addAction(QStringLiteral("Remove"))->setEnabled(lvdList->RowSelected);
        menu.addAction(QStringLiteral("Cancel Selection"))->setEnabled(lvdList->RowSelected);
    }
    menu.addAction(QStringLiteral("Change Algorithm"));
}

void wMain::performMenuEntry(const QString& text)
{
    if (text == QLatin1String("Change Algorithm")) {
        dialogs::showChangeEncryption();
    } else if (text == QLatin1String("Cancel Selection")) {
        lvdList->cancelSelection();
    } else if (text == QLatin1String("Remove")) {
        if (lvdList->RowSelected) lvdList->Remove(lvdList->SelectedRow);
    } else if (text == QLatin1String("Add")) {
        AddItemWithDialogue();
    }
}

QPoint wMain::actionMenuPosition() const { return {Left() - 1, Top() + (m_status == 2 ? 264 : 164)}; }

void wMain::showItemMenu(const QPoint& at)
{
    if (m_status > 2) return;
    QMenu menu(this);
    fillItemMenu(menu);
    if (QAction* chosen = menu.exec(at)) performMenuEntry(chosen->text());
}

bool wMain::answersCommand(const QString& name) const { return m_commands.answers(name); }

bool wMain::doCommand(const QString& name) { return m_commands.run(name); }

void wMain::enableMenuItems(MainMenu& menu)
{
    // Add and Remove act only outside the job view; Remove only on a selected row.
    if (QAction* remove = menu.item(QStringLiteral("FileRemoveItem")))
        remove->setEnabled(m_status == 2 && lvdList->RowSelected);
    if (QAction* add = menu.item(QStringLiteral("FileAddItem")); add && m_status == 3) add->setEnabled(false);
}

// --- the window's own events -----------------------------------------------------------------------

void wMain::Event_Open()
{
    tmr->stop();
    const Preferences& prefs = Preferences::shared();
    // A stored corner off every screen is left to the window system; one on a screen is brought
    // back inside it with the whole window.
    const QPoint stored(prefs.pLeft, prefs.pTop);
    if (const QScreen* screen = screenHolding(stored); screen && prefs.pLeft != -1 && prefs.pTop != -1) {
        setLeft(prefs.pLeft);
        setTop(prefs.pTop);
        Resize::keepOnScreen(this, screen);
    }
    lvdList->sbScroll = sbwMain;
}

bool wMain::Event_Close()
{
    Lockvane* app = Lockvane::App();
    if (app && app->quitting()) return true;
    storePosition();
    if (!app) return true;
    return app->requestQuit();
}

void wMain::storePosition()
{
    Preferences& prefs = Preferences::shared();
    prefs.pLeft = Left();
    prefs.pTop = Top();
}

void wMain::moveSelection(int by)
{
    if (m_status != 2 || !lvdList->RowSelected) return;
    const std::int32_t row = lvdList->SelectedRow + by;
    if (row < 1 || row > lvdList->ItemCount) return;
    lvdList->selectRow(row);
    // The selected row stays in view, so that Backspace never removes a row nobody sees.
    lvdList->scrollToShow(row);
}

void wMain::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (QPushButton* button = defaultButton()) {
            button->click();
            return;
        }
    }
    // The job view's Cancel takes no focus (Space must not cancel by accident); Escape presses it
    // while the job runs.
    if (key == Qt::Key_Escape && m_view == View::JobView && bCancel->isVisible() && bCancel->isEnabled() &&
        bCancel->text() != QLatin1String("OK")) {
        bCancel->click();
        return;
    }
    if (m_status == 2 && lvdList->RowSelected) {
        if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            lvdList->Remove(lvdList->SelectedRow);
        } else if (key == Qt::Key_Up || key == Qt::Key_Down) {
            moveSelection(key == Qt::Key_Up ? -1 : 1);
        }
    }
    AsyncDragWindow::keyPressEvent(event);
}

void wMain::changeEvent(QEvent* event)
{
    AsyncDragWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) setActive(isActiveWindow());
}

void wMain::setActive(bool active)
{
    Active = active;
    if (m_status == 1) {
        cBack->setPicture(active ? Artwork::DropZone::Active : Artwork::DropZone::Inactive);
    } else if (m_status == 2) {
        lvdList->activeHighlight = active;
        lvdList->update();
    }
}

} // namespace lv
