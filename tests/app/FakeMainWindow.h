#pragma once
// A main window that records the view changes the application object asks for and follows them
// as the real window does (status, view, the queue emptied on reset).

#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "app/Globals.h"
#include "app/MainWindow.h"

namespace lv::test {

class FakeMainWindow : public MainWindow {
public:
    explicit FakeMainWindow(Globals& globals) : m_globals(globals) {}

    QWidget* widget() override { return &window; }
    int WindowStatus() const override { return status; }
    View view() const override { return current; }
    void Transition() override { record("Transition", 2, View::ItemList); }
    void DecryptTransition() override { record("DecryptTransition", 1, View::DecryptQuestion); }
    void ResetWindow() override
    {
        m_globals.Items.clear();
        record("ResetWindow", 1, View::DropZone);
    }
    void runWhenIdle(std::function<void()> work) override { QTimer::singleShot(0, &window, std::move(work)); }
    int Left() const override { return left; }
    int Top() const override { return top; }

    void show(View v)
    {
        current = v;
        status = v == View::ItemList ? 2 : v == View::JobView ? 3 : 1;
    }

    QWidget window;
    int status = 1;
    int left = 0;
    int top = 0;
    View current = View::DropZone;
    std::vector<std::string> calls;

private:
    void record(const char* call, int newStatus, View newView)
    {
        calls.emplace_back(call);
        status = newStatus;
        current = newView;
    }

    Globals& m_globals;
};

} // namespace lv::test
