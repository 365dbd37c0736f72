#include "ui/qt/QtJobControls.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <chrono>
#include <future>

#include "app/HandOver.h"
#include "app/MainWindow.h"
#include "app/UserDialogs.h"

namespace lv {

QtJobControls::QtJobControls(const Widgets& widgets, QObject* parent)
    : QObject(parent),
      m_widgets(widgets),
      m_progress(widgets.progress),
      m_status(widgets.status),
      m_button(widgets.button),
      m_parent(widgets.parent)
{
}

QtJobControls::~QtJobControls() { m_live->store(false); }

JobControls QtJobControls::controls()
{
    JobControls c;
    c.progress = this;
    c.status = this;
    c.button = this;
    c.messages = this;
    c.window = m_widgets.window ? this : nullptr;
    c.notifier = m_widgets.notifier;
    c.attention = m_widgets.attention;
    return c;
}

void QtJobControls::close() { m_live->store(false); }

void QtJobControls::onGuiThread(std::function<void()> work)
{
    if (!m_live->load()) return;
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    postToThreadOf(this, [live = m_live, work = std::move(work)] {
        if (live->load()) work();
    });
}

void QtJobControls::setMaximum(std::int32_t maximum)
{
    onGuiThread([this, maximum] {
        if (m_progress) m_progress->setMaximum(maximum);
    });
}

void QtJobControls::setValue(std::int32_t value)
{
    onGuiThread([this, value] {
        if (m_progress) m_progress->setValue(value);
    });
}

void QtJobControls::setText(const std::string& text)
{
    onGuiThread([this, text = QString::fromStdString(text)] {
        if (m_status) m_status->setText(text);
    });
}

void QtJobControls::setCaption(const std::string& caption)
{
    onGuiThread([this, caption = QString::fromStdString(caption)] {
        if (m_button) m_button->setText(caption);
    });
}

void QtJobControls::setDefault(bool isDefault)
{
    onGuiThread([this, isDefault] {
        if (!m_button) return;
        m_button->setDefault(isDefault);
        if (isDefault) m_button->setFocus();  // Return presses it
    });
}

int QtJobControls::show(const Request& request)
{
    const int dismissed = request.cancelButton >= 0 ? request.cancelButton : 0;
    if (!m_live->load()) return dismissed;
    if (QThread::currentThread() == thread())
        return UserDialogs::shared().message(request, UserDialogs::Icon::Note, m_parent);

    // The worker waits for the answer, but never for a closed job.
    auto answer = std::make_shared<std::promise<int>>();
    std::future<int> result = answer->get_future();
    postToThreadOf(this, [this, live = m_live, answer, request, dismissed] {
        answer->set_value(live->load() ? UserDialogs::shared().message(request, UserDialogs::Icon::Note, m_parent)
                                       : dismissed);
    });
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        if (!m_live->load()) return dismissed;
    try {
        return result.get();
    } catch (const std::future_error&) {
        return dismissed;  // the controls went before the box was shown
    }
}

void QtJobControls::resetWindow()
{
    onGuiThread([this] {
        if (!m_widgets.window) return;
        MainWindow* window = m_widgets.window;
        window->runWhenIdle([window] { window->ResetWindow(); });
    });
}

} // namespace lv
