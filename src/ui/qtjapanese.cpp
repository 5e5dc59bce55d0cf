#include "ui/qtjapanese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace veltra {

QTranslator *installQtJapanese()
{
    // Beside the program first, where the Windows installer puts it; then Qt's own folder,
    // where Debian's qt6-translations-l10n does.
    const QString folders[] = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
    };
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &folder : folders) {
        if (translator->load(QStringLiteral("qtbase_ja"), folder) &&
            QCoreApplication::installTranslator(translator))
            return translator;
    }
    delete translator;
    return nullptr;
}

} // namespace veltra
