#include "ui/UiFixture.h"

#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>

#include "engine/LVTagger.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/CalcSize.h"
#include "ui/main/Resize.h"

namespace lv::test {

namespace fs = std::filesystem;

void UiFixture::SetUp()
{
    dialogs().reset();
    Preferences& p = prefs();
    p = Preferences();
    globals().Items.clear();
    globals().DoingEncrypt = false;
    globals().CurrentEncryptionType.clear();
    m_app = std::make_unique<Lockvane>(globals(), p, [this] {
        auto w = std::make_unique<wMain>();
        m_window = w.get();
        return w;
    });
    m_app->start({});
    destination = dir / "Desktop";
    fs::create_directories(destination);
    p.DestinationFolder = FolderItem(destination);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    m_window->activateWindow();
    QApplication::setActiveWindow(m_window);
    (void)QTest::qWaitForWindowActive(m_window, 2000);  // without a window manager X may not say so
}

void UiFixture::TearDown()
{
    if (swKey* sheet = swKey::current()) sheet->deleteLater();
    settle();
    m_app.reset();
    CalcSize::stopAll();
    QApplication::processEvents();
    dialogs().reset();
}

bool UiFixture::waitFor(const std::function<bool()>& done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

void UiFixture::settle()
{
    for (int i = 0; i < 5; ++i) {
        (void)QTest::qWaitFor([] { return !Resize::animating(); }, 5000);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void UiFixture::drop(QWidget* target, const std::vector<fs::path>& items, bool link)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const fs::path& item : items) urls << QUrl::fromLocalFile(QString::fromStdString(item.native()));
    data->setUrls(urls);
    const Qt::DropAction action = link ? Qt::LinkAction : Qt::CopyAction;
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent event(at, action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    delete data;
    settle();
}

void UiFixture::writeHeaderOnlyFile(const fs::path& file, int version)
{
    std::string header = LVTagger::headerBytes("AES", std::string(64, 'd'));
    if (version != 1) {
        const std::string from = "<FileTypeVersion>1<";
        header.replace(header.find(from), from.size(), "<FileTypeVersion>" + std::to_string(version) + "<");
    }
    writeFile(file, header + "body");
}

void UiFixture::screenshot(QWidget* widget, const std::string& name)
{
    const QString folder = QStringLiteral(LOCKVANE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    widget->grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}

} // namespace lv::test
