#pragma once
// Stands between one job's worker and the GUI: forwards every call while the job is live and
// drops every call once the job has been closed (killed or replaced), so that a late call of a
// cancelled job never reaches the window. A dropped message box returns its cancel button (or 0).

#include <atomic>
#include <memory>

#include "platform/gui/JobControls.h"

namespace lv {

class JobGate : public ProgressBar,
                public StatusText,
                public JobButton,
                public MessageBox,
                public MainWindowReset,
                public DesktopNotifier,
                public WindowAttention {
public:
    explicit JobGate(JobControls target);

    // From now on every call is dropped. Thread-safe; may be called from any thread.
    void close() noexcept { m_open.store(false); }
    bool isOpen() const noexcept { return m_open.load(); }

    // The gate itself as the controls of the job (null where the target had none).
    JobControls controls();

    void setMaximum(std::int32_t maximum) override;
    void setValue(std::int32_t value) override;
    void setText(const std::string& text) override;
    void setCaption(const std::string& caption) override;
    void setDefault(bool isDefault) override;
    int show(const Request& request) override;
    void resetWindow() override;
    void post(const std::string& name, const std::string& title, const std::string& description) override;
    void requestAttention() override;
    void bringAllToFront() override;

private:
    JobControls m_target;
    std::atomic<bool> m_open{true};
};

} // namespace lv
