#pragma once
// The main window's base: a window that reports when the user has moved it, and answers its
// position as the content area's top-left corner in screen coordinates (the menu bar and the
// frame lie outside it).
//
// Signals, in their order: moveStarted when a move begins, moveCompleted when it has come to
// rest, then moved, only when the position differs from the one last reported or set. Qt reports
// a drag as a run of moves; a pause of `SettleMilliseconds` ends one.
//
// Subclasses implement Event_Open (once, when the window is first shown) and Event_Close (when a
// close is about to happen; return false to refuse it).

#include <QMainWindow>
#include <QTimer>

namespace lv {

class AsyncDragWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int SettleMilliseconds = 250;

    explicit AsyncDragWindow(QWidget* parent = nullptr);

    int Left() const;
    int Top() const;
    void setLeft(int left);
    void setTop(int top);

signals:
    void moveStarted();
    void moveCompleted();
    void moved();

protected:
    virtual void Event_Open() {}
    virtual bool Event_Close() { return true; }

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void settle();

    bool m_opened = false;
    bool m_moving = false;
    int m_lastLeft = 0;
    int m_lastTop = 0;
    QTimer m_settle;
};

} // namespace lv
