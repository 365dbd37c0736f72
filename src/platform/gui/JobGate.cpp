#include "platform/gui/JobGate.h"

namespace lv {

JobGate::JobGate(JobControls target) : m_target(target) {}

JobControls JobGate::controls()
{
    JobControls c;
    c.progress = m_target.progress ? this : nullptr;
    c.status = m_target.status ? this : nullptr;
    c.button = m_target.button ? this : nullptr;
    c.messages = m_target.messages ? this : nullptr;
    c.window = m_target.window ? this : nullptr;
    c.notifier = m_target.notifier ? this : nullptr;
    c.attention = m_target.attention ? this : nullptr;
    return c;
}

void JobGate::setMaximum(std::int32_t maximum)
{
    if (isOpen() && m_target.progress)
        m_target.progress->setMaximum(maximum);
}

void JobGate::setValue(std::int32_t value)
{
    if (isOpen() && m_target.progress)
        m_target.progress->setValue(value);
}

void JobGate::setText(const std::string& text)
{
    if (isOpen() && m_target.status)
        m_target.status->setText(text);
}

void JobGate::setCaption(const std::string& caption)
{
    if (isOpen() && m_target.button)
        m_target.button->setCaption(caption);
}

void JobGate::setDefault(bool isDefault)
{
    if (isOpen() && m_target.button)
        m_target.button->setDefault(isDefault);
}

int JobGate::show(const Request& request)
{
    if (isOpen() && m_target.messages)
        return m_target.messages->show(request);
    // Nobody sees the box: answer as if the user had dismissed it.
    return request.cancelButton >= 0 ? request.cancelButton : 0;
}

void JobGate::resetWindow()
{
    if (isOpen() && m_target.window)
        m_target.window->resetWindow();
}

void JobGate::post(const std::string& name, const std::string& title, const std::string& description)
{
    if (isOpen() && m_target.notifier)
        m_target.notifier->post(name, title, description);
}

void JobGate::requestAttention()
{
    if (isOpen() && m_target.attention)
        m_target.attention->requestAttention();
}

void JobGate::bringAllToFront()
{
    if (isOpen() && m_target.attention)
        m_target.attention->bringAllToFront();
}

} // namespace lv
