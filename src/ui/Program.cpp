#include "ui/Program.h"

#include <QIcon>

#include <memory>
#include <vector>

#include "app/Globals.h"
#include "app/Lockvane.h"
#include "app/LockvaneApplication.h"
#include "app/Preferences.h"
#include "ui/main/Artwork.h"
#include "ui/main/CalcSize.h"
#include "ui/main/wMain.h"

namespace lv {

std::vector<FolderItem> commandLineDocuments(int argc, const char* const* argv)
{
    // Taken as bytes: a name that is not UTF-8 is as good a name as any.
    std::vector<FolderItem> documents;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        if (given.empty()) continue;
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(given, error);
        documents.emplace_back(error ? given : absolute.lexically_normal());
    }
    return documents;
}

int runProgram(int argc, char** argv)
{
    // Every argument is a document, whatever it looks like ("-reverse" and "--help" are names
    // like any other): the toolkit sees only the program's name and takes its settings from the
    // environment (QT_QPA_PLATFORM and the like).
    const std::vector<FolderItem> documents = commandLineDocuments(argc, argv);
    char fallbackName[] = "lockvane";
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    LockvaneApplication application(toolkitArgc, toolkitArgv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    QApplication::setWindowIcon(Artwork::applicationIcon());

    int code = 0;
    {
        Lockvane lockvane(Globals::shared(), Preferences::shared(), [] { return std::make_unique<wMain>(); });
        code = lockvane.run(documents);
    }
    CalcSize::stopAll();
    return code;
}

} // namespace lv
