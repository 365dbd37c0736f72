#include "app/UnreadableFile.h"

#include "app/UserDialogs.h"

namespace lv::UnreadableFile {

namespace {

// Names beyond these are counted, so that the box for a large drop still fits on the screen.
constexpr std::size_t NamesShown = 5;

std::string quoted(const FolderItem& file) { return "\"" + file.displayName() + "\""; }

void tell(const std::vector<FolderItem>& files, const std::vector<std::string>& reasons, QWidget* parent)
{
    UserDialogs::Request request;
    request.message = messageFor(files);
    // One reason when they share it (a folder the user may not read gives the same to all),
    // else each named file's own.
    bool shared = true;
    for (const std::string& reason : reasons) shared = shared && reason == reasons.front();
    if (shared) {
        request.explanation = reasons.front() + ".";
    } else {
        for (std::size_t i = 0; i < reasons.size() && i < NamesShown; ++i)
            request.explanation += (i ? "\n" : "") + quoted(files[i]) + ": " + reasons[i] + ".";
    }
    UserDialogs::shared().message(request, UserDialogs::Icon::Caution, parent);
}

} // namespace

std::optional<std::string> whyUnreadable(const FolderItem& item)
{
    FolderItem file = item;
    if (item.isAlias())
        if (std::optional<FolderItem> target = item.resolveAlias()) file = *target;
    if (!file.isFile() || file.openAsBinaryFile(false)) return std::nullopt;
    return file.lastErrorText();
}

std::string messageFor(const std::vector<FolderItem>& files)
{
    if (files.size() == 1) return "The file " + quoted(files.front()) + " cannot be read.";
    const std::size_t named = std::min(files.size(), NamesShown);
    std::string names;
    for (std::size_t i = 0; i < named; ++i) {
        if (i > 0) names += i + 1 == files.size() ? " and " : ", ";
        names += quoted(files[i]);
    }
    if (named < files.size()) names += " and " + std::to_string(files.size() - named) + " more";
    return "The files " + names + " cannot be read.";
}

std::string messageFor(const FolderItem& file) { return messageFor(std::vector<FolderItem>{file}); }

std::vector<FolderItem> readableOf(const std::vector<FolderItem>& items, QWidget* parent)
{
    std::vector<FolderItem> readable;
    std::vector<FolderItem> unreadable;
    std::vector<std::string> reasons;
    for (const FolderItem& item : items) {
        if (std::optional<std::string> reason = whyUnreadable(item)) {
            unreadable.push_back(item);
            reasons.push_back(std::move(*reason));
        } else {
            readable.push_back(item);
        }
    }
    if (!unreadable.empty()) tell(unreadable, reasons, parent);
    return readable;
}

bool refuse(const FolderItem& file, QWidget* parent) { return readableOf({file}, parent).empty(); }

} // namespace lv::UnreadableFile
