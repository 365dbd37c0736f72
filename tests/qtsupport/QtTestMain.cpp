// The entry point of the suites that need a QApplication. Every run gets private home, config,
// cache, runtime and state folders, so that no test reads or writes the settings, work files,
// records or socket of the person running it.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>

#include <cstdlib>

#include "app/LockvaneApplication.h"
#include "app/UserDialogs.h"
#include "platform/DateTime.h"
#include "qtsupport/ScriptedDialogs.h"

int main(int argc, char** argv)
{
    lv::settleTimeZone();
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/lockvane-test-XXXXXX"));
    const QByteArray root = home.path().toLocal8Bit();
    for (const auto& [name, sub] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"},
                                    {"XDG_CACHE_HOME", "/cache"}, {"XDG_RUNTIME_DIR", "/runtime"},
                                    {"XDG_DATA_HOME", "/data"}, {"XDG_STATE_HOME", "/state"}}) {
        const QByteArray path = root + sub;
        QDir().mkpath(QString::fromLocal8Bit(path));
        QFile::setPermissions(QString::fromLocal8Bit(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner);
        ::setenv(name, path.constData(), 1);
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    lv::LockvaneApplication application(argc, argv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    // No test ever opens a real modal box or chooser.
    lv::test::ScriptedDialogs dialogs;
    lv::UserDialogs::setShared(&dialogs);
    lv::test::ScriptedDialogs::setInstalled(&dialogs);

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    lv::UserDialogs::setShared(nullptr);
    return result;
}
