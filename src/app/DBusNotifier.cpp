#include "app/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>
#include <QVariantMap>

#include <array>

#include "app/HandOver.h"
#include "engine/Notices.h"

namespace lv {

DBusNotifier::DBusNotifier(QObject* parent) : QObject(parent) {}

bool DBusNotifier::onByDefault(const std::string& name)
{
    static constexpr std::array names{Notices::EncryptionFinished, Notices::DecryptionFinished,
                                      Notices::DecryptionError, Notices::EncryptionError};
    for (std::string_view on : names)
        if (name == on) return true;
    return false;
}

void DBusNotifier::post(const std::string& name, const std::string& title, const std::string& description)
{
    if (!onByDefault(name)) return;
    const QString t = QString::fromStdString(title);
    const QString d = QString::fromStdString(description);
    if (QThread::currentThread() == thread())
        send(t, d);
    else
        postToThreadOf(this, [this, t, d] { send(t, d); });
}

void DBusNotifier::send(const QString& title, const QString& description)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return;
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(ServiceName)).value()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
                                                       QString::fromLatin1(ServiceName), QStringLiteral("Notify"));
    call << QString::fromLatin1(ApplicationName) << quint32(0) << QStringLiteral("lockvane") << title << description
         << QStringList() << QVariantMap() << qint32(-1);
    bus.asyncCall(call);  // no answer awaited: a slow service never holds the window up
}

} // namespace lv
