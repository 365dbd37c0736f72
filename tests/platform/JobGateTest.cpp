#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui/JobGate.h"
#include "support/RecordingGui.h"

namespace lv {
namespace {

using test::RecordingGui;

// Drives every control once through `c`; returns what the message box answered.
int driveEverything(const JobControls& c)
{
    c.progress->setMaximum(0);
    c.progress->setValue(12);
    c.status->setText("Compressing...");
    c.button->setCaption("OK");
    c.button->setDefault(true);
    int answer = c.messages->show({"Quit?", "Quitting now will cancel the current process.", {"Quit", "Cancel"}, 0, 1});
    c.window->resetWindow();
    c.notifier->post("Encryption Finished", "Encryption Finished!", "Your encryption has finished successfully.");
    c.attention->requestAttention();
    c.attention->bringAllToFront();
    return answer;
}

TEST(JobGate, ForwardsEveryCallWhileOpen)
{
    RecordingGui gui;
    gui.setAnswer(1);
    JobGate gate(gui.controls());
    EXPECT_EQ(driveEverything(gate.controls()), 1);
    EXPECT_EQ(gui.events(), (std::vector<std::string>{
                                "max: 0",
                                "value: 12",
                                "status: Compressing...",
                                "caption: OK",
                                "default: 1",
                                "message: Quit?",
                                "reset",
                                "notify: Encryption Finished|Encryption Finished!|Your encryption has finished successfully.",
                                "attention",
                                "front",
                            }));
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].buttons, (std::vector<std::string>{"Quit", "Cancel"}));
}

TEST(JobGate, DropsEverythingOnceClosedFromAnotherThread)
{
    RecordingGui gui;
    gui.setAnswer(0);
    JobGate gate(gui.controls());
    std::thread([&] { gate.close(); }).join();
    EXPECT_FALSE(gate.isOpen());

    // The box nobody sees answers with its cancel button, or 0 without one.
    EXPECT_EQ(driveEverything(gate.controls()), 1);
    EXPECT_EQ(gate.show({"Encryption Failed!", {}, {}, 0, -1}), 0);
    EXPECT_TRUE(gui.events().empty());
}

TEST(JobGate, NoCallReachesTheTargetAfterTheWorkerSeesTheGateClosed)
{
    RecordingGui gui;
    JobGate gate(gui.controls());
    std::atomic<int> firstClosed{-1};
    std::thread worker([&] {
        int closedCalls = 0;
        for (int i = 0; closedCalls < 1000; ++i) {
            if (!gate.isOpen()) {
                if (firstClosed < 0)
                    firstClosed = i;
                ++closedCalls;
            }
            gate.setValue(i);
        }
    });
    ASSERT_TRUE(gui.waitForEvent("value: 100"));
    gate.close();
    worker.join();

    // Recorded: exactly the calls before the worker saw the gate closed, in order, no gaps.
    const auto events = gui.events();
    ASSERT_GE(firstClosed, 101);
    ASSERT_LE(events.size(), std::size_t(firstClosed));
    for (std::size_t i = 0; i < events.size(); ++i)
        ASSERT_EQ(events[i], "value: " + std::to_string(i));
}

TEST(JobGate, ControlsAreNullWhereTheTargetHasNone)
{
    RecordingGui gui;
    JobControls target;
    target.status = &gui;
    JobGate gate(target);
    JobControls c = gate.controls();
    EXPECT_EQ(c.status, static_cast<StatusText*>(&gate));
    EXPECT_EQ(c.progress, nullptr);
    EXPECT_EQ(c.messages, nullptr);
    EXPECT_EQ(c.attention, nullptr);

    // Calling the gate directly for a missing control is harmless.
    gate.setValue(3);
    EXPECT_EQ(gate.show({"m", {}, {}, 0, 2}), 2);
    gate.setText("Encrypting...");
    EXPECT_EQ(gui.events(), std::vector<std::string>{"status: Encrypting..."});
}

} // namespace
} // namespace lv
