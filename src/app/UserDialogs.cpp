#include "app/UserDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <vector>

#include "app/FileNames.h"

namespace lv {

namespace {

UserDialogs* g_override = nullptr;

QString fromPath(const FolderItem& item) { return FileNames::toQt(item); }
FolderItem toItem(const QString& path) { return FileNames::fromQt(path); }

} // namespace

UserDialogs& UserDialogs::shared()
{
    static QtUserDialogs qtDialogs;
    return g_override ? *g_override : qtDialogs;
}

void UserDialogs::setShared(UserDialogs* dialogs) { g_override = dialogs; }

int QtUserDialogs::message(const Request& request, Icon icon, QWidget* parent)
{
    QMessageBox box(icon == Icon::Caution ? QMessageBox::Warning : QMessageBox::Information,
                    QApplication::applicationDisplayName(), QString::fromStdString(request.message),
                    QMessageBox::NoButton, parent);
    if (!request.explanation.empty())
        box.setInformativeText(QString::fromStdString(request.explanation));
    // Both texts carry file names, which may look like markup: they are shown as they are (the
    // box has no setting of its own for the explanation).
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        if (!label->text().isEmpty()) label->setTextFormat(Qt::PlainText);
    std::vector<QPushButton*> buttons;
    const std::vector<std::string> captions = request.buttons.empty() ? std::vector<std::string>{"OK"} : request.buttons;
    for (std::size_t i = 0; i < captions.size(); ++i) {
        const bool isCancel = int(i) == request.cancelButton;
        buttons.push_back(box.addButton(QString::fromStdString(captions[i]),
                                        isCancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    }
    if (request.defaultButton >= 0 && std::size_t(request.defaultButton) < buttons.size())
        box.setDefaultButton(buttons[std::size_t(request.defaultButton)]);
    if (request.cancelButton >= 0 && std::size_t(request.cancelButton) < buttons.size())
        box.setEscapeButton(buttons[std::size_t(request.cancelButton)]);
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i]) return int(i);
    return request.cancelButton >= 0 ? request.cancelButton : 0;
}

std::optional<FolderItem> QtUserDialogs::chooseFileOrFolder(const std::string& prompt, QWidget* parent)
{
    // Qt's chooser picks either files or folders; a second button takes the folder in view.
    QFileDialog dialog(parent, QString::fromStdString(prompt));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, QObject::tr("Choose"));
    QString folderChosen;
    if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
        QPushButton* folderButton = box->addButton(QObject::tr("Choose Folder"), QDialogButtonBox::ActionRole);
        QObject::connect(folderButton, &QPushButton::clicked, &dialog, [&dialog, &folderChosen] {
            const QStringList selected = dialog.selectedFiles();
            folderChosen = !selected.isEmpty() && QFileInfo(selected.first()).isDir() ? selected.first()
                                                                                      : dialog.directory().absolutePath();
            dialog.QDialog::accept();
        });
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (!folderChosen.isEmpty()) return toItem(folderChosen);
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return toItem(files.first());
}

std::optional<FolderItem> QtUserDialogs::chooseFile(const std::string& prompt, QWidget* parent)
{
    const QString file = QFileDialog::getOpenFileName(parent, QString::fromStdString(prompt));
    if (file.isEmpty()) return std::nullopt;
    return toItem(file);
}

std::optional<FolderItem> QtUserDialogs::chooseFolder(const FolderItem& start, QWidget* parent)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, QString(), start.isNull() ? QString() : fromPath(start));
    if (folder.isEmpty()) return std::nullopt;
    return toItem(folder);
}

void QtUserDialogs::openUrl(const std::string& url)
{
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

void QtUserDialogs::openDocument(const FolderItem& file)
{
    // The address carries the name's bytes, percent-encoded.
    QDesktopServices::openUrl(QUrl::fromEncoded("file://" + QByteArray::fromStdString(file.shellPath()).toPercentEncoding("/")));
}

} // namespace lv
