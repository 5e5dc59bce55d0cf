#include "operations/commands.h"

#include "file/settingsfile.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/items.h"
#include "settings/validation.h"

#include <QDir>
#include <QFileInfo>

namespace veltra {

void Commands::saveSettingsFileCommand()
{
    m_invalidValueFlag = 0;
    for (int page = 0; page < kPageCount; ++page)
        CheckPresentValues(page, m_fields, m_invalidValueFlag);
    if (m_invalidValueFlag == -1) {
        ShowMessage(messages::saveRefused(), kStyleNotice);
        return;
    }
    const std::optional<QString> path = m_prompts.saveFileName();
    if (!path)
        return;
    // There is no completion message, so a failed save must say so or it reads as success.
    if (!writeSettingsFile(*path, m_fields))
        ShowMessage(messages::saveFailed(), kStyleNotice);
    else
        m_lastSettingsFile = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
}

void Commands::loadSettingsFileCommand()
{
    const std::optional<QString> path = m_prompts.openFileName();
    if (!path)
        return;
    loadSettingsFileFrom(*path);
}

void Commands::loadSettingsFileFrom(const QString &path)
{
    // Path on the first line, the sentence on the second: a message box breaks lines at LF
    // only, a CR would run both together.
    const QString shownPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (ShowMessage(shownPath + u'\n' + QStringLiteral("のVELTRA設定ファイルを読み込みます。"),
                    kStyleConfirm) != kAnswerYes)
        return;

    const LoadedFile loaded = readSettingsFile(path);
    switch (loaded.status) {
    case LoadStatus::NotSettingsFile:
        ShowMessage(messages::notSettingsFile(), kStyleNotice);
        return;
    case LoadStatus::Unreadable:
        // The user has just confirmed this file: ending without a word would leave them
        // guessing whether the set values are the file's.
        ShowMessage(messages::unreadable(), kStyleNotice);
        return;
    case LoadStatus::TooShort:
        return;
    case LoadStatus::Ok:
        break;
    }

    m_loadedLines = loaded.lines;
    ParseCommonLine(m_loadedLines.at(0), m_fields);
    for (int circuit = 1; circuit < kPageCount; ++circuit)
        ParseCircuitLine(circuit, m_loadedLines.at(circuit), m_fields);
    m_lastSettingsFile = shownPath;
    ShowMessage(messages::loaded(), kStyleNotice);
}

} // namespace veltra
