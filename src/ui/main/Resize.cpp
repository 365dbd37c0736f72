#include "ui/main/Resize.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lv::Resize {

namespace {

int g_depth = 0;
bool g_terminate = false;
int g_lastSteps = 0;

// One step of at most the increment from `current` towards `target`, in the direction fixed at
// the start.
int step(int current, int target, bool shrink)
{
    if (shrink ? current > target : current < target) {
        const int distance = std::abs(target - current);
        const int move = distance < transitionIncrementVal ? distance : transitionIncrementVal;
        return shrink ? current - move : current + move;
    }
    return current;
}

// Drops input that reaches a widget directly while an animation runs (input from the window
// system is held back by the event loop and delivered afterwards).
class InputGuard : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

// Runs `tick` on every tick of `pacer` until it returns false (or another animation ended this
// one), keeping user input back meanwhile.
template <typename Tick>
void animate(QTimer& pacer, Tick tick)
{
    ++g_depth;
    g_terminate = false;
    InputGuard guard;
    QCoreApplication::instance()->installEventFilter(&guard);
    QEventLoop loop;
    const auto connection = QObject::connect(&pacer, &QTimer::timeout, &loop, [&] {
        if (g_terminate || !tick()) loop.quit();
    });
    pacer.start(TickMilliseconds);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    QObject::disconnect(connection);
    pacer.stop();
    QCoreApplication::instance()->removeEventFilter(&guard);
    g_terminate = true;  // an animation this one interrupted stops at its next tick
    --g_depth;
}

// True when `to` is wider or taller than `from`: only a window that grows is moved back on screen.
bool grows(QSize from, QSize to) { return to.width() > from.width() || to.height() > from.height(); }

// The height of what a QMainWindow shows above and below its content: the menu bar and the
// toolbars of the top and bottom areas.
int outsideHeight(const QWidget* window)
{
    auto* main = qobject_cast<const QMainWindow*>(window);
    if (!main) return 0;
    int height = main->menuWidget() ? main->menuWidget()->sizeHint().height() : 0;
    for (const QToolBar* bar : main->findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) {
        const Qt::ToolBarArea area = main->toolBarArea(bar);
        if (!bar->isHidden() && (area == Qt::TopToolBarArea || area == Qt::BottomToolBarArea))
            height += bar->sizeHint().height();
    }
    return height;
}

} // namespace

bool animating() { return g_depth > 0; }
int lastStepCount() { return g_lastSteps; }

QSize contentSize(const QWidget* window)
{
    if (auto* main = qobject_cast<const QMainWindow*>(window); main && main->centralWidget())
        return main->centralWidget()->size();
    return window->size();
}

void setContentSize(QWidget* window, QSize size)
{
    const QSize whole(size.width(), size.height() + outsideHeight(window));
    window->setFixedSize(whole);
    if (auto* main = qobject_cast<QMainWindow*>(window); main && main->centralWidget()) {
        main->centralWidget()->setFixedSize(size);
        // Lay out at once, so that the content has its size before the next paint.
        if (QLayout* layout = main->layout()) layout->activate();
    }
}

QPoint contentPosition(const QWidget* window)
{
    if (auto* main = qobject_cast<const QMainWindow*>(window); main && main->centralWidget())
        return main->centralWidget()->mapToGlobal(QPoint(0, 0));
    return window->mapToGlobal(QPoint(0, 0));
}

void setContentPosition(QWidget* window, QPoint position)
{
    // Qt places a window by its frame; the content lies inside it by a fixed offset.
    const QPoint offset = contentPosition(window) - window->frameGeometry().topLeft();
    window->move(position - offset);
}

QPoint anchoredPosition(QPoint topLeft, QSize from, QSize to, int anchor)
{
    const int dW = to.width() - from.width();
    const int dH = to.height() - from.height();
    const int t = topLeft.y();
    const int l = topLeft.x();
    const auto half = [](int d) { return int(std::lround(double(d) / 2.0)); };
    switch (anchor) {
    case TopLeft: return {l, t};
    case TopRight: return {l - dW, t};
    case BottomLeft: return {l, t - dH};
    case BottomRight: return {l - dW, t - dH};
    case TopMiddle: return {l - half(dW), t};
    case LeftMiddle: return {l, t - half(dH)};
    case BottomMiddle: return {l - half(dW), t - dH};
    case RightMiddle: return {l - dW, t - half(dH)};
    default: return {l, t};
    }
}

QPoint insidePosition(QRect frame, QRect area)
{
    QPoint at = frame.topLeft();
    if (frame.right() > area.right()) at.rx() -= frame.right() - area.right();
    if (frame.bottom() > area.bottom()) at.ry() -= frame.bottom() - area.bottom();
    at.rx() = std::max(at.x(), area.left());
    at.ry() = std::max(at.y(), area.top());
    return at;
}

void keepOnScreen(QWidget* window, const QScreen* screen)
{
    if (!window->isWindow() || !window->isVisible()) return;
    if (!screen) screen = window->screen();
    if (!screen) return;
    const QRect frame = window->frameGeometry();
    const QPoint at = insidePosition(frame, screen->availableGeometry());
    if (at != frame.topLeft()) window->move(at);
}

void SmoothResize(QWidget* window, int width, int height, QTimer& pacer)
{
    const QSize start = contentSize(window);
    const bool shrinkW = width != start.width() && width < start.width();
    const bool shrinkH = height != start.height() && height < start.height();
    int steps = 0;
    animate(pacer, [&] {
        ++steps;
        const QSize now = contentSize(window);
        const QSize next(step(now.width(), width, shrinkW), step(now.height(), height, shrinkH));
        if (next != now) {
            setContentSize(window, next);
            if (grows(now, next)) keepOnScreen(window);
        }
        return next != QSize(width, height);
    });
    g_lastSteps = steps;
    setContentSize(window, QSize(width, height));
    if (grows(start, QSize(width, height))) keepOnScreen(window);
}

void DeclareResize(QWidget* window, int width, int height, int anchor)
{
    const QSize from = contentSize(window);
    const QSize to(width, height);
    const QPoint startCorner = contentPosition(window);
    const QPoint endCorner = anchoredPosition(startCorner, from, to, anchor);
    const bool animated = anchor >= TopLeft && anchor <= RightMiddle && from != to;
    if (animated) {
        QTimer pacer;
        constexpr int Frames = 8;
        int frame = 0;
        animate(pacer, [&] {
            ++frame;
            const double f = double(frame) / Frames;
            const auto mix = [f](int a, int b) { return int(std::lround(a + (b - a) * f)); };
            setContentSize(window, QSize(mix(from.width(), to.width()), mix(from.height(), to.height())));
            if (window->isVisible())
                setContentPosition(window, QPoint(mix(startCorner.x(), endCorner.x()), mix(startCorner.y(), endCorner.y())));
            if (grows(from, to)) keepOnScreen(window);
            return frame < Frames;
        });
    }
    setContentSize(window, to);
    if (window->isVisible() && animated) setContentPosition(window, endCorner);
    if (grows(from, to)) keepOnScreen(window);
    window->update();
}

} // namespace lv::Resize
