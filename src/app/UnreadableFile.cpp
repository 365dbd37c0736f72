#include "app/UnreadableFile.h"

#include "app/UserDialogs.h"

namespace lv::UnreadableFile {

std::string messageFor(const FolderItem& file) { return "The file \"" + file.displayName() + "\" cannot be read."; }

bool refuse(const FolderItem& file, QWidget* parent)
{
    if (!file.isFile() || file.openAsBinaryFile(false)) return false;
    UserDialogs::Request request;
    request.message = messageFor(file);
    request.explanation = file.lastErrorText() + ".";
    UserDialogs::shared().message(request, UserDialogs::Icon::Caution, parent);
    return true;
}

} // namespace lv::UnreadableFile
