#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QVariantMap>

#include "app/DBusNotifier.h"
#include "app/Globals.h"
#include "engine/Notices.h"

namespace lv {
namespace {

// A notification service of our own on the session bus, recording what is posted.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Posted {
        QString app, summary, body;
    };
    std::vector<Posted> posted;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        posted.push_back({app, summary, body});
        return uint(posted.size());
    }
};

void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(DBusNotifier, PostsTheFourEndOfJobNamesToTheServiceAndNothingElse)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"));
    ASSERT_TRUE(service.isConnected());
    FakeNotificationService fake;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    DBusNotifier notifier;
    Globals globals;
    globals.setNotifier(&notifier);
    for (std::string_view name : {Notices::EncryptionStarted, Notices::EncryptionFinished, Notices::DecryptionStarted,
                                  Notices::DecryptionFinished, Notices::EncryptionError, Notices::DecryptionError})
        globals.PostGrowl(name);
    spin(500);

    ASSERT_EQ(fake.posted.size(), 4u);
    EXPECT_EQ(fake.posted[0].app, "Lockvane");
    EXPECT_EQ(fake.posted[0].summary, "Encryption Finished!");
    EXPECT_EQ(fake.posted[0].body, "Your encryption has finished successfully.");
    EXPECT_EQ(fake.posted[1].summary, "Decryption Finished!");
    EXPECT_EQ(fake.posted[2].summary, "Encryption Error!");
    EXPECT_EQ(fake.posted[3].body, "An error was encountered during the decryption process.");

    // Without a service nothing is posted and nothing fails.
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    spin(100);
    globals.PostGrowl(Notices::EncryptionFinished);
    spin(200);
    EXPECT_EQ(fake.posted.size(), 4u);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
}

TEST(DBusNotifier, WorkersMayPostFromTheirThreads)
{
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-2"));
    FakeNotificationService fake;
    service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake, QDBusConnection::ExportAllSlots);
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DBusNotifier notifier;
    std::thread worker([&] { Notices::post(&notifier, Notices::DecryptionFinished); });
    worker.join();
    spin(500);
    ASSERT_EQ(fake.posted.size(), 1u);
    EXPECT_EQ(fake.posted[0].summary, "Decryption Finished!");
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-2"));
}

} // namespace
} // namespace lv

#include "DBusNotifierTest.moc"
