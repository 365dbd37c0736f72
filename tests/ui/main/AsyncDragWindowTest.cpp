#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "ui/main/AsyncDragWindow.h"

namespace lv {
namespace {

TEST(AsyncDragWindow, MovesAreReportedOnceTheyHaveEndedAndOnlyWhenThePlaceChanged)
{
    AsyncDragWindow window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.setLeft(100);
    window.setTop(80);
    QTest::qWait(AsyncDragWindow::SettleMilliseconds * 2);

    QSignalSpy started(&window, &AsyncDragWindow::moveStarted);
    QSignalSpy completed(&window, &AsyncDragWindow::moveCompleted);
    QSignalSpy moved(&window, &AsyncDragWindow::moved);
    // A drag: several moves in a row, ending elsewhere.
    for (int x = 110; x <= 150; x += 10) window.move(window.pos() + QPoint(10, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return completed.count() == 1; }, 3000));
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(window.Left(), 150);
    EXPECT_EQ(window.Top(), 80);

    // A drag that ends where it started reports no move.
    window.move(window.pos() + QPoint(30, 5));
    window.move(window.pos() - QPoint(30, 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return completed.count() == 2; }, 3000));
    EXPECT_EQ(started.count(), 2);
    EXPECT_EQ(moved.count(), 1);
}

} // namespace
} // namespace lv
