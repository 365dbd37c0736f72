#include "ui/dialogs/wPrefs.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTextDocument>

#include <algorithm>

#include "app/Preferences.h"
#include "app/UserDialogs.h"
#include "ui/main/Resize.h"
#include "ui/main/SharedCommands.h"

namespace lv {

namespace {

QString fromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// A one-line label for a path: a text wider than the label shows its end, after an ellipsis,
// instead of being cut off mid-letter. The text itself stays whole.
class PathLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QRect room = contentsRect();
        if (fontMetrics().horizontalAdvance(text()) <= room.width()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        p.drawText(room, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideLeft, room.width()));
    }
};

// Places `w` by its position in the page's coordinates, whatever box it lies in.
template <typename Widget>
Widget* place(Widget* w, const char* name, QWidget* page, QRect geometry)
{
    w->setObjectName(QString::fromLatin1(name));
    QWidget* parent = w->parentWidget();
    w->setGeometry(parent == page ? geometry : geometry.translated(-parent->mapTo(page, QPoint(0, 0))));
    return w;
}

QLabel* centredLabel(QWidget* parent, const char* name, const char* text, QWidget* page, QRect geometry)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return place(label, name, page, geometry);
}

// A check box that shows a setting and writes it back when it changes.
QCheckBox* settingBox(QWidget* parent, const char* name, const char* caption, QWidget* page, QRect geometry,
                      bool Preferences::*setting)
{
    auto* box = place(new QCheckBox(QString::fromLatin1(caption), parent), name, page, geometry);
    box->setChecked(Preferences::shared().*setting);
    QObject::connect(box, &QCheckBox::toggled, box, [setting](bool on) { Preferences::shared().*setting = on; });
    return box;
}

// A radio button that shows whether `cipher` is the default and makes it the default when chosen.
QRadioButton* cipherButton(QWidget* parent, const char* name, const char* caption, QWidget* page, QRect geometry,
                           const char* cipher)
{
    auto* button = place(new QRadioButton(QString::fromLatin1(caption), parent), name, page, geometry);
    const std::string cipherName = cipher;
    if (Preferences::shared().DefaultEncryptionType == cipherName) button->setChecked(true);
    QObject::connect(button, &QRadioButton::toggled, button, [cipherName](bool checked) {
        if (checked) Preferences::shared().DefaultEncryptionType = cipherName;
    });
    return button;
}

// Text without a "/" (which would put the encrypted file into another folder).
QValidator* noSlash(QObject* parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^/\\x{0}]*")), parent);
}

// The extension a box text gives: the text without one leading dot.
QString extensionOf(const QString& text) { return text.startsWith(QLatin1Char('.')) ? text.mid(1) : text; }

} // namespace

wPrefs::wPrefs()
    : DialogWindow("wPrefs", QStringLiteral("Preferences"), Qt::WindowMinimizeButtonHint, SharedCommands::DialogCommands)
{
    tbPrefs1 = new tbPrefs(this);
    addToolBar(Qt::TopToolBarArea, tbPrefs1);
    connect(tbPrefs1, &QToolBar::actionTriggered, this, &wPrefs::tbPrefs1_Action);

    ppConents = new QStackedWidget;
    ppConents->setObjectName(QStringLiteral("ppConents"));
    setCentralWidget(ppConents);
    QWidget* pages[3];
    for (QWidget*& page : pages) {
        page = new QWidget;
        ppConents->addWidget(page);
    }
    buildGeneralPage(pages[0]);

    QWidget* notifications = pages[1];
    cbGrowl = settingBox(notifications, "cbGrowl", "Enable Growl", notifications, {103, 14, 114, 32},
                         &Preferences::GrowlEnabled);
    cbGrowl->setToolTip(QStringLiteral("Show a desktop notification when a job ends or fails."));
    cbBounce = settingBox(notifications, "cbBounce", "Bounce Dock Icon", notifications, {103, 38, 134, 32},
                          &Preferences::BounceDockIcon);
    cbBounce->setToolTip(QStringLiteral("Ask for your attention in the task bar when a job ends."));

    QWidget* updates = pages[2];
    cbUpdates = place(new QCheckBox(QStringLiteral("Check for updates on launch"), updates), "cbUpdates", updates,
                      {66, 14, 208, 20});
    cbUpdates->setChecked(true);
    cbUpdates->setEnabled(false);
    bCheckNow = place(new QPushButton(QStringLiteral("Check Now"), updates), "bCheckNow", updates, {125, 46, 90, 20});
    bCheckNow->setAutoDefault(false);
    connect(bCheckNow, &QPushButton::clicked, this, &wPrefs::bCheckNow_Action);

    ppConents->setCurrentIndex(0);
    Resize::setContentSize(this, QSize(340, 448));
    for (QWidget* w : findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus) w->installEventFilter(this);
}

void wPrefs::buildGeneralPage(QWidget* page)
{
    GroupBox3 = place(new QGroupBox(QStringLiteral("Default Encryption Method"), page), "GroupBox3", page,
                      {20, 14, 296, 106});
    rbBlowfish = cipherButton(GroupBox3, "rbBlowfish", "BlowFish - 448 Bit", page, {57, 87, 197, 20}, "Blowfish");
    rbSerpent = cipherButton(GroupBox3, "rbSerpent", "Serpent - 256 Bit", page, {57, 64, 146, 20}, "Serpent");
    rbAES = cipherButton(GroupBox3, "rbAES", "AES - 256 Bit", page, {57, 41, 197, 20}, "AES");
    // A stored name that matches no cipher shows Blowfish, as the window was laid out.
    if (!rbSerpent->isChecked() && !rbAES->isChecked()) {
        const QSignalBlocker quiet(rbBlowfish);
        rbBlowfish->setChecked(true);
    }

    GroupBox4 = place(new QGroupBox(QStringLiteral("Other"), page), "GroupBox4", page, {20, 132, 296, 302});
    QWidget* box = GroupBox4;
    cbDecryptionConfirmation = settingBox(box, "cbDecryptionConfirmation", "Ask for decryption confirmation.", page,
                                          {54, 160, 228, 20}, &Preferences::DecryptReminder);
    stPath = place(new PathLabel(box), "stPath", page, {31, 283, 211, 20});
    stPath->setTextFormat(Qt::PlainText);
    bBrowse = place(new QPushButton(QStringLiteral("Browse.."), box), "bBrowse", page, {248, 283, 58, 20});
    bBrowse->setFocusPolicy(Qt::NoFocus);
    bBrowse->setAutoDefault(false);
    connect(bBrowse, &QPushButton::clicked, this, &wPrefs::bBrowse_Action);
    StaticText3 = centredLabel(box, "StaticText3", "Save Files To:", page, {119, 258, 100, 20});
    StaticText4 = centredLabel(box, "StaticText4", "Default File Name:", page, {111, 321, 117, 20});

    const Preferences& prefs = Preferences::shared();
    edFile = place(new KQEditField(box), "edFile", page, {31, 345, 270, 22});
    edFile->setAlignment(Qt::AlignCenter);
    edFile->setValidator(noSlash(edFile));
    edFile->setText(QString::fromStdString(prefs.DefaultFileName));
    connect(edFile, &QLineEdit::textChanged, this, [](const QString& text) {
        Preferences::shared().DefaultFileName = text.toStdString();
    });

    StaticText5 = centredLabel(box, "StaticText5", "Default File Extension:", page, {90, 373, 152, 20});
    cbPwrdStrength = settingBox(box, "cbPwrdStrength", "Show password strength window.", page, {54, 221, 247, 20},
                                &Preferences::ShowPasswordStrength);
    cbCompress = settingBox(box, "cbCompress", "Compress encrypted files.", page, {54, 201, 228, 20},
                            &Preferences::Compress);
    cbConfirmKey = settingBox(box, "cbConfirmKey", "Confirm password.", page, {54, 180, 228, 20},
                              &Preferences::ConfirmKey);

    cbExtension = place(new QComboBox(box), "cbExtension", page, {133, 398, 74, 20});
    cbExtension->setEditable(true);
    cbExtension->setInsertPolicy(QComboBox::NoInsert);  // a typed extension is remembered on close
    cbExtension->setValidator(noSlash(cbExtension));
    cbExtension_Open();
    connect(cbExtension, &QComboBox::editTextChanged, this, [](const QString& text) {
        Preferences::shared().DefaultFileExtension = extensionOf(text).toStdString();
    });

    // The focus moves down the page, as the controls stand.
    QWidget* const order[] = {rbAES, rbSerpent, rbBlowfish, cbDecryptionConfirmation, cbConfirmKey, cbCompress,
                             cbPwrdStrength, edFile, cbExtension};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    // The destination folder's alignment follows its path's length.
    showPath(prefs.DestinationFolder.shellPath(), false);
}

void wPrefs::cbExtension_Open()
{
    // Filling the box is no edit: nothing is stored meanwhile.
    const QSignalBlocker quiet(cbExtension);
    const Preferences& prefs = Preferences::shared();
    cbExtension->clear();
    const QString current = QStringLiteral(".") + QString::fromStdString(prefs.DefaultFileExtension);
    cbExtension->addItem(current);
    for (const std::string& extension : prefs.Extensions) {
        const QString row = QString::fromStdString(extension);
        if (!row.isEmpty() && row != current) cbExtension->addItem(row);
    }
    cbExtension->setCurrentIndex(0);
    cbExtension->setEditText(current);
}

void wPrefs::cbExtension_Close()
{
    const QString extension = extensionOf(cbExtension->currentText());
    if (extension.isEmpty()) return;
    const std::string remembered = (QStringLiteral(".") + extension).toStdString();
    std::vector<std::string>& list = Preferences::shared().Extensions;
    if (std::find(list.begin(), list.end(), remembered) == list.end()) list.push_back(remembered);
}

void wPrefs::showPath(const std::string& path, bool shorten)
{
    const QString whole = fromPath(path);
    const std::u32string characters = whole.toStdU32String();
    const bool longPath = characters.size() > std::size_t(PathShownWhole);
    constexpr std::size_t Tail = PathShownWhole - 3;
    stPath->setAlignment((longPath ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignVCenter);
    stPath->setText(longPath && shorten
                        ? QStringLiteral("...") + QString::fromStdU32String(characters.substr(characters.size() - Tail))
                        : whole);
    // A folder's name may look like markup: the help tag shows it as it is too.
    stPath->setToolTip(Qt::mightBeRichText(whole) ? Qt::convertFromPlainText(whole, Qt::WhiteSpaceNoWrap) : whole);
}

void wPrefs::bBrowse_Action()
{
    Preferences& prefs = Preferences::shared();
    const std::optional<FolderItem> chosen = UserDialogs::shared().chooseFolder(prefs.DestinationFolder, this);
    if (!chosen) return;
    prefs.DestinationFolder = *chosen;
    showPath(chosen->shellPath(), true);
}

void wPrefs::bCheckNow_Action() { UserDialogs::shared().message(CheckNowText, this); }

void wPrefs::tbPrefs1_Action(QAction* item)
{
    item->setChecked(true);
    struct Page {
        QAction* item;
        int index;
        int height;
    };
    const Page pages[] = {
        {tbPrefs1->tiUpdates, 2, 86}, {tbPrefs1->tiNotifications, 1, 89}, {tbPrefs1->tiGeneral, 0, 448}};
    for (const Page& page : pages) {
        if (page.item != item) continue;
        ppConents->setCurrentIndex(page.index);
        Resize::DeclareResize(this, Resize::contentSize(this).width(), page.height, Resize::TopMiddle);
        return;
    }
}

void wPrefs::showEvent(QShowEvent* event)
{
    DialogWindow::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    setFocus();  // no control holds the keyboard focus at first
}

void wPrefs::closeEvent(QCloseEvent* event)
{
    cbExtension_Close();
    DialogWindow::closeEvent(event);
}

bool wPrefs::eventFilter(QObject* watched, QEvent* event)
{
    // Return takes the focus from the control that has it; the key goes on to the control.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) setFocus();
    }
    return DialogWindow::eventFilter(watched, event);
}

} // namespace lv
