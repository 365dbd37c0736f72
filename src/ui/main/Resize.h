#pragma once
// Animated changes of a window's content size.
//
// SmoothResize grows or shrinks the content in steps of 20 pixels, one step per tick of the
// window's pacing timer, and returns when the size is reached. Meanwhile the event loop runs, but
// user input (keys, clicks) is held back until the animation has ended, so nothing the user does
// can start another view change in the middle of one. A difference that is not a multiple of 20
// ends with a shorter step. DeclareResize animates to the new size keeping a corner or the middle
// of an edge in place (the anchor) and ends in exactly that geometry. Neither lets a window grow
// past the edges of its screen's work area: a window that grows moves back inside as it grows.
//
// The content of a QMainWindow is its central widget (the menu bar and the toolbars sit outside
// it); of any other window, the window itself. Main thread only.

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QTimer;
class QWidget;

namespace lv::Resize {

inline constexpr int transitionIncrementVal = 20;
// Time between two steps.
inline constexpr int TickMilliseconds = 12;

enum Anchor {
    TopLeft = 0,
    TopRight = 1,
    BottomLeft = 2,
    BottomRight = 3,
    TopMiddle = 4,
    LeftMiddle = 5,
    BottomMiddle = 6,
    RightMiddle = 7,
};

void SmoothResize(QWidget* window, int width, int height, QTimer& pacer);
void DeclareResize(QWidget* window, int width, int height, int anchor);

// True while an animation of either kind runs.
bool animating();
// The number of pacer ticks the last SmoothResize took (for tests).
int lastStepCount();

// The content area's size and its top-left corner in screen coordinates.
QSize contentSize(const QWidget* window);
void setContentSize(QWidget* window, QSize size);
QPoint contentPosition(const QWidget* window);
// Moves the window so that its content's top-left corner lands on `position`.
void setContentPosition(QWidget* window, QPoint position);

// The top-left content corner after a change from `from` to `to` with `anchor`, the corner being
// `topLeft` before.
QPoint anchoredPosition(QPoint topLeft, QSize from, QSize to, int anchor);

// Where a window's frame at `frame` goes to lie inside `area`, moved as little as needed; a frame
// larger than the area keeps its top-left corner inside it (the title bar stays in reach).
QPoint insidePosition(QRect frame, QRect area);
// Moves the window (shown, top level) so that its frame lies inside the work area of `screen`
// (its own screen when null). Both animations keep a window that grows inside its screen.
void keepOnScreen(QWidget* window, const QScreen* screen = nullptr);

} // namespace lv::Resize
