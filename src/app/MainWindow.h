#pragma once
// What the application object needs of the main window: its state, the view changes a document
// handed over by the file manager causes, and a way to run work once the window is idle. The
// window itself lives in ui/main; the application object sees it only through this interface.

#include <functional>

class QWidget;

namespace lv {

class MainWindow {
public:
    enum class View { DropZone, DecryptQuestion, ItemList, JobView };

    virtual ~MainWindow() = default;

    virtual QWidget* widget() = 0;

    // 1 drop zone (also while the decrypt question shows), 2 item list, 3 job view.
    virtual int WindowStatus() const = 0;
    virtual View view() const = 0;

    // To the item list, giving every queued item without a row its row.
    virtual void Transition() = 0;
    // From the drop zone to "Are you sure you wish to decrypt this file?".
    virtual void DecryptTransition() = 0;
    // Back to the drop zone from any view, emptying the queue.
    virtual void ResetWindow() = 0;

    // Runs `work` on the main thread once no view change is animating (at once when none is).
    virtual void runWhenIdle(std::function<void()> work) = 0;

    // The window's left and top content edges in screen coordinates.
    virtual int Left() const = 0;
    virtual int Top() const = 0;
};

} // namespace lv
