#pragma once
// Desktop notifications through the freedesktop notification service on the session bus, under
// the program's six notification names. Of those, the two "Started" names are off, as they are
// registered off by default; the others are on. Nothing is posted, and nothing is shown, when
// there is no session bus or no notification service on it.
//
// `post` may be called from any thread: the call is carried to the thread the notifier lives on.

#include <QObject>
#include <QString>

#include <string>

#include "platform/gui/JobControls.h"

namespace lv {

class DBusNotifier : public QObject, public DesktopNotifier {
    Q_OBJECT
public:
    static constexpr const char* ServiceName = "org.freedesktop.Notifications";
    static constexpr const char* ObjectPath = "/org/freedesktop/Notifications";
    static constexpr const char* ApplicationName = "Lockvane";

    explicit DBusNotifier(QObject* parent = nullptr);

    // True for the names posted by default ("Encryption Finished", "Decryption Finished",
    // "Encryption Error", "Decryption Error").
    static bool onByDefault(const std::string& name);

    void post(const std::string& name, const std::string& title, const std::string& description) override;

private:
    void send(const QString& title, const QString& description);
};

} // namespace lv
