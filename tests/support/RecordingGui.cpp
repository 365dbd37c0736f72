#include "RecordingGui.h"

#include <algorithm>
#include <iostream>

namespace lv::test {

JobControls RecordingGui::controls()
{
    return JobControls{this, this, this, this, this, this, this};
}

void RecordingGui::setAnswer(int button)
{
    setAnswer([button](const MessageBox::Request&) { return button; });
}

void RecordingGui::setAnswer(Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_answer = std::move(answer);
}

void RecordingGui::setEcho(bool on, std::string prefix)
{
    std::lock_guard lock(m_mutex);
    m_echo = on;
    m_echoPrefix = std::move(prefix);
}

std::vector<std::string> RecordingGui::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<std::string> RecordingGui::eventsStartingWith(const std::string& prefix) const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& e : m_events)
        if (e.starts_with(prefix))
            out.push_back(e);
    return out;
}

bool RecordingGui::hasEvent(const std::string& event) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
}

std::string RecordingGui::lastStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

std::string RecordingGui::lastCaption() const
{
    std::lock_guard lock(m_mutex);
    return m_caption;
}

std::int32_t RecordingGui::maximum() const
{
    std::lock_guard lock(m_mutex);
    return m_maximum;
}

std::int32_t RecordingGui::value() const
{
    std::lock_guard lock(m_mutex);
    return m_value;
}

std::vector<MessageBox::Request> RecordingGui::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void RecordingGui::clear()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
    m_messages.clear();
    m_status.clear();
    m_caption.clear();
    m_maximum = m_value = 0;
}

bool RecordingGui::waitFor(const EventMatch& match, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout,
                              [&] { return std::any_of(m_events.begin(), m_events.end(), match); });
}

bool RecordingGui::waitForEvent(const std::string& event, std::chrono::milliseconds timeout) const
{
    return waitFor([&](const std::string& e) { return e == event; }, timeout);
}

void RecordingGui::record(std::string event)
{
    if (m_echo && event.starts_with(m_echoPrefix))
        std::cout << event << std::endl;
    m_events.push_back(std::move(event));
    m_changed.notify_all();
}

void RecordingGui::setMaximum(std::int32_t maximum)
{
    std::lock_guard lock(m_mutex);
    m_maximum = maximum;
    record("max: " + std::to_string(maximum));
}

void RecordingGui::setValue(std::int32_t value)
{
    std::lock_guard lock(m_mutex);
    m_value = value;
    record("value: " + std::to_string(value));
}

void RecordingGui::setText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_status = text;
    record("status: " + text);
}

void RecordingGui::setCaption(const std::string& caption)
{
    std::lock_guard lock(m_mutex);
    m_caption = caption;
    record("caption: " + caption);
}

void RecordingGui::setDefault(bool isDefault)
{
    std::lock_guard lock(m_mutex);
    record(std::string("default: ") + (isDefault ? "1" : "0"));
}

int RecordingGui::show(const Request& request)
{
    Answer answer;
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(request);
        record("message: " + request.message);
        answer = m_answer;
    }
    // The answer runs unlocked, so that it may look at the recorder itself.
    return answer ? answer(request) : request.defaultButton;
}

void RecordingGui::resetWindow()
{
    std::lock_guard lock(m_mutex);
    record("reset");
}

void RecordingGui::post(const std::string& name, const std::string& title, const std::string& description)
{
    std::lock_guard lock(m_mutex);
    record("notify: " + name + "|" + title + "|" + description);
}

void RecordingGui::requestAttention()
{
    std::lock_guard lock(m_mutex);
    record("attention");
}

void RecordingGui::bringAllToFront()
{
    std::lock_guard lock(m_mutex);
    record("front");
}

} // namespace lv::test
