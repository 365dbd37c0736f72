#include "ui/dialogs/wChangeEncryption.h"

#include <QKeyEvent>
#include <QPushButton>

#include "app/Globals.h"
#include "ui/main/Resize.h"
#include "ui/main/SharedCommands.h"

namespace lv {

wChangeEncryption::wChangeEncryption()
    : DialogWindow("wChangeEncryption", QStringLiteral("Encryption Type"), {}, SharedCommands::DialogCommands)
{
    auto* content = new QWidget;
    setCentralWidget(content);
    const auto radio = [content](const char* name, const char* caption, QRect geometry) {
        auto* button = new QRadioButton(QString::fromLatin1(caption), content);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        return button;
    };
    rbBlowfish = radio("rbBlowfish", "Blowfish - 448 Bit", {20, 14, 156, 20});
    rbSerpent = radio("rbSerpent", "Serpent - 256 Bit", {20, 38, 146, 20});
    bOK = new QPushButton(QStringLiteral("OK"), content);
    bOK->setObjectName(QStringLiteral("bOK"));
    bOK->setGeometry(166, 87, 80, 20);
    bOK->setDefault(true);
    rbAES = radio("rbAES", "AES - 256 Bit", {20, 63, 146, 20});
    Resize::setContentSize(this, QSize(266, 127));

    // Each button shows the cipher of the next job when the window is built, and sets it when chosen.
    const std::pair<QRadioButton*, const char*> ciphers[] = {
        {rbBlowfish, "Blowfish"}, {rbSerpent, "Serpent"}, {rbAES, "AES"}};
    for (const auto& [button, cipher] : ciphers) {
        const std::string name = cipher;
        if (Globals::shared().CurrentEncryptionType == name) button->setChecked(true);
        connect(button, &QRadioButton::toggled, this, [name](bool checked) {
            if (checked) Globals::shared().CurrentEncryptionType = name;
        });
    }
    connect(bOK, &QPushButton::clicked, this, &wChangeEncryption::bOK_Action);
}

void wChangeEncryption::bOK_Action() { close(); }

void wChangeEncryption::keyPressEvent(QKeyEvent* event)
{
    // A window that is no dialog has no default button of its own: Return presses OK here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        bOK->click();
        return;
    }
    DialogWindow::keyPressEvent(event);
}

} // namespace lv
