#include "ui/Program.h"

#include <QFile>
#include <QFileInfo>
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

int runProgram(int argc, char** argv)
{
    LockvaneApplication application(argc, argv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    QApplication::setWindowIcon(Artwork::applicationIcon());

    std::vector<FolderItem> documents;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString path = QFileInfo(arguments[i]).absoluteFilePath();
        documents.emplace_back(std::filesystem::path(QFile::encodeName(path).toStdString()));
    }

    int code = 0;
    {
        Lockvane lockvane(Globals::shared(), Preferences::shared(), [] { return std::make_unique<wMain>(); });
        code = lockvane.run(documents);
    }
    CalcSize::stopAll();
    return code;
}

} // namespace lv
