#include "engine/OutputName.h"

namespace lv::OutputName {

namespace {

constexpr int MaxCandidates = 100000;

} // namespace

std::string candidate(const std::string& name, const std::string& extension, int n)
{
    return name + (n > 1 ? std::to_string(n) : std::string()) + "." + extension;
}

bool isSafePart(const std::string& part)
{
    return part.find('/') == std::string::npos && part.find('\0') == std::string::npos && part != "." && part != "..";
}

FolderItem firstFree(const FolderItem& folder, const std::string& name, const std::string& extension)
{
    if (folder.isNull() || !isSafePart(name) || !isSafePart(extension)) return {};
    for (int n = 1; n <= MaxCandidates; ++n) {
        FolderItem item = folder.child(candidate(name, extension, n));
        if (!item.exists()) return item;
    }
    return {};
}

} // namespace lv::OutputName
