#include "ui/dialogs/wAbout.h"

#include <QPainter>

#include "ui/dialogs/StyleTags.h"
#include "ui/main/Artwork.h"
#include "ui/main/Resize.h"
#include "ui/main/SharedCommands.h"

namespace lv {

namespace {

class LogoCanvas : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        Artwork::drawLogo(p, QRectF(0, 0, 64, 64));
    }
};

// The labels' type sizes are in pixels, as the window's geometry is.
QLabel* label(QWidget* parent, const char* name, const char* placeholder, QRect geometry, int pixels, bool bold)
{
    auto* l = new QLabel(QString::fromLatin1(placeholder), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    QFont font = l->font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    l->setFont(font);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(palette);
    return l;
}

} // namespace

const QString& wAbout::creditsText()
{
    static const QString text = QStringLiteral(
        "<b>Lockvane, made by Tarnwick</b>\n"
        "\n"
        "<b>Design and Engineering:</b>\n"
        "      Tarnwick\n"
        "\n"
        "<b>Graphics:</b>\n"
        "      Tarnwick\n"
        "\n"
        "<b>Icon:</b>\n"
        "      Tarnwick\n"
        "\n"
        "<b>Testing:</b>\n"
        "      The Lockvane testers\n"
        "\n"
        "<b>Components:</b>\n"
        "      Qt, by The Qt Company and its contributors\n"
        "      Botan, by Jack Lloyd and its contributors\n"
        "      zlib, by Jean-loup Gailly and Mark Adler\n"
        "\n"
        "<b><i>Special Thanks:</i></b>\n"
        "      Everyone who took the time to report a problem\n"
        "\n"
        "<b>Disclaimer:</b>\n"
        "<font size=\"10\">THIS SOFTWARE IS PROVIDED BY TARNWICK \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR "
        "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE. "
        "IN NO EVENT SHALL TARNWICK BE LIABLE FOR ANY CLAIM, LOSS OF DATA OR OTHER DAMAGE ARISING FROM THE USE OF THIS "
        "SOFTWARE. KEEP A COPY OF YOUR KEYS: A FILE WHOSE KEY IS LOST CANNOT BE DECRYPTED BY ANYONE.</font>");
    return text;
}

const QString& wAbout::copyrightText()
{
    static const QString text = QStringLiteral("Copyright \u00a9 2026 Tarnwick.\nAll rights reserved.");
    return text;
}

wAbout::wAbout() : DialogWindow("wAbout", QString(), {}, SharedCommands::AboutWindowCommands)
{
    auto* content = new QWidget;
    setCentralWidget(content);

    EditAppCredits = new KQTextField(content);
    EditAppCredits->setObjectName(QStringLiteral("EditAppCredits"));
    EditAppCredits->setGeometry(0, 133, 284, 138);
    EditAppCredits->setReadOnly(true);
    EditAppCredits->setTextInteractionFlags(Qt::TextSelectableByMouse);  // no caret in a text to read
    EditAppCredits->setFocusPolicy(Qt::StrongFocus);                       // but the Edit commands reach it
    EditAppCredits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    EditAppCredits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EditAppCredits->setAcceptRichText(false);
    QPalette palette = EditAppCredits->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    EditAppCredits->setPalette(palette);

    AppIconCanvas = new LogoCanvas(content);
    AppIconCanvas->setObjectName(QStringLiteral("AppIconCanvas"));
    AppIconCanvas->setGeometry(110, 8, 64, 64);
    AppIconCanvas->setFocusPolicy(Qt::NoFocus);

    StatAppName = label(content, "StatAppName", "kAppName", {20, 86, 244, 16}, 14, true);
    StatAppVersion = label(content, "StatAppVersion", "kAppVersion", {20, 112, 244, 12}, 10, false);
    StatAppVersion->setText(QStringLiteral("Version " LOCKVANE_VERSION));
    StatAppCopyright = label(content, "StatAppCopyright", "kAppCopyright", {20, 280, 244, 42}, 10, false);
    StatAppCopyright->setWordWrap(true);
    Resize::setContentSize(this, QSize(284, 326));
}

void wAbout::Show(bool useCredits)
{
    UseCredits = useCredits;
    SetupWindow();
    showInFront();
}

void wAbout::SetupWindow()
{
    StatAppName->setText(QStringLiteral("Lockvane"));
    StatAppCopyright->setText(copyrightText());
    if (UseCredits) {
        SetCreditsFieldText(creditsText(), true);
        StatAppCopyright->move(20, 280);
        EditAppCredits->show();
        Resize::setContentSize(this, QSize(284, 326));
    } else {
        EditAppCredits->hide();
        StatAppCopyright->move(20, 132);
        Resize::setContentSize(this, QSize(284, 178));
    }
}

void wAbout::SetCreditsFieldText(const QString& text, bool styled)
{
    // Text set afresh starts in the field's own style, whatever the old text ended in.
    EditAppCredits->setCurrentCharFormat(QTextCharFormat());
    EditAppCredits->setPlainText(text);
    if (styled) StyleTags::apply(*EditAppCredits);
}

} // namespace lv
