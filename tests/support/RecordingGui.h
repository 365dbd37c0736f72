#pragma once
// A stand-in for every control a job drives (platform/gui/JobControls.h) that records each call,
// in order, as one readable event:
//
//   "max: 0"   "value: 12"   "status: Compressing..."   "caption: OK"   "default: 1"
//   "message: Encryption Failed!"   "reset"   "notify: Encryption Finished|Encryption Finished!|..."
//   "attention"   "front"
//
// Thread-safe: workers call it from their own threads while the test reads it. Message boxes
// do not block; they return a scripted answer (by default the request's default button).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gui/JobControls.h"

namespace lv::test {

class RecordingGui : public ProgressBar,
                     public StatusText,
                     public JobButton,
                     public MessageBox,
                     public MainWindowReset,
                     public DesktopNotifier,
                     public WindowAttention {
public:
    using Answer = std::function<int(const MessageBox::Request&)>;
    using EventMatch = std::function<bool(const std::string&)>;

    RecordingGui() = default;

    // Every control pointing at this recorder.
    JobControls controls();

    // Every message box from now on returns `button`, or what `answer` decides.
    void setAnswer(int button);
    void setAnswer(Answer answer);
    // Also prints each event whose text starts with `prefix` ("" for all) on standard output.
    void setEcho(bool on, std::string prefix = {});

    std::vector<std::string> events() const;
    // Events starting with `prefix`, in order.
    std::vector<std::string> eventsStartingWith(const std::string& prefix) const;
    bool hasEvent(const std::string& event) const;
    std::string lastStatus() const;
    std::string lastCaption() const;
    std::int32_t maximum() const;
    std::int32_t value() const;
    std::vector<MessageBox::Request> messages() const;
    void clear();

    // Waits until some event (already recorded or arriving later) satisfies `match`; false when
    // none did within `timeout`.
    bool waitFor(const EventMatch& match, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    bool waitForEvent(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

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
    // Records `event`; call with m_mutex held.
    void record(std::string event);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::vector<MessageBox::Request> m_messages;
    std::string m_status;
    std::string m_caption;
    std::int32_t m_maximum = 0;
    std::int32_t m_value = 0;
    Answer m_answer;
    bool m_echo = false;
    std::string m_echoPrefix;
};

} // namespace lv::test
