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
    Outcome outcome{CommandId::Save};
    // mutate: equivalent: const 0 to 1: the flag is only ever compared with -1
    int invalidValueFlag = 0;
    QStringList ports;
    // mutate: equivalent: cmp < to <=: a page past the last has no items and was never read
    for (int page = 0; page < kPageCount; ++page) {
        CheckPresentValues(page, m_fields, invalidValueFlag);
        // One file, one relay: no page from before a failed read or from another port.
        if (presentValuesOlder(page))
            invalidValueFlag = -1;
        if (const auto &r = reading(page); r && !ports.contains(r->port))
            // mutate: equivalent: delete stmt: pages from two ports include one from a port the
            // field does not name, which is older and refuses the save already
            ports << r->port;
    }
    // mutate: equivalent: const 1 to 2 #2: pages from two ports include one from a port the field
    // does not name, which is older and refuses the save already
    if (invalidValueFlag == -1 || ports.size() > 1) {
        outcome.kind = Outcome::Kind::InvalidPresentValues;
        conclude(outcome);
        return;
    }
    const std::optional<QString> path = m_prompts.saveFileName();
    if (!path) {
        outcome.kind = Outcome::Kind::Declined;
        conclude(outcome);
        return;
    }
    outcome.fileName = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    // There is no completion message, so a failed save must say so or it reads as success.
    outcome.fileProblem = writeSettingsFile(*path, m_fields);
    if (outcome.fileProblem != FileProblem::None)
        outcome.kind = Outcome::Kind::FileUnwritable;
    else
        m_lastSettingsFile = outcome.fileName;
    conclude(outcome);
}

void Commands::saveEditedSettingsFileCommand()
{
    Outcome outcome{CommandId::SaveEdited};
    // A file made here is one a write will take: the same rule the command line writes by.
    // mutate: equivalent: const 1 to 0: a page past the last has no items, so it adds no problem
    outcome.problems = setValueProblems(m_fields, kCommonPage, kPageCount - 1);
    if (!outcome.problems.isEmpty()) {
        outcome.kind = Outcome::Kind::InvalidSetValues;
        conclude(outcome);
        return;
    }
    const std::optional<QString> path = m_prompts.saveEditedFileName(m_lastLoadedFile);
    if (!path) {
        outcome.kind = Outcome::Kind::Declined;
        conclude(outcome);
        return;
    }
    outcome.fileName = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    outcome.fileProblem = writeSettingsFile(*path, m_fields, FileColumn::Set);
    if (outcome.fileProblem != FileProblem::None)
        outcome.kind = Outcome::Kind::FileUnwritable;
    else
        m_lastSettingsFile = outcome.fileName;
    conclude(outcome);
}

void Commands::loadSettingsFileCommand()
{
    const std::optional<QString> path = m_prompts.openFileName();
    if (!path) {
        conclude(Outcome(CommandId::Load, Outcome::Kind::Declined));
        return;
    }
    loadNamedSettingsFile(*path);
}

void Commands::loadNamedSettingsFile(const QString &path)
{
    Outcome outcome{CommandId::Load};
    const QString shownPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    // Read before the question, once: its details name lines whose labels are not those of
    // their place, which loading by position would put on another page. Nothing changes
    // before the answer.
    const LoadedFile loaded = readSettingsFile(path);
    const QList<int> misplaced =
        loaded.status == LoadStatus::Ok ? misplacedLabels(loaded.lines) : QList<int>();
    if (ShowMessage(messages::loadQuestion(shownPath), kStyleConfirm,
                    messages::misplacedLabels(misplaced, loaded.lines)) != kAnswerYes) {
        outcome.kind = Outcome::Kind::Declined;
        conclude(outcome);
        return;
    }

    outcome.fileProblem = loaded.problem;
    outcome.utf8Text = loaded.utf8Text;
    switch (loaded.status) {
    case LoadStatus::NotSettingsFile:
        outcome.kind = Outcome::Kind::NotSettingsFile;
        break;
    case LoadStatus::Unreadable:
        // The user has just confirmed this file: ending without a word would leave them
        // guessing whether the set values are the file's.
        outcome.kind = Outcome::Kind::FileUnreadable;
        break;
    case LoadStatus::TooShort:
        outcome.kind = Outcome::Kind::FileTooShort;
        break;
    case LoadStatus::Ok:
        m_loadedLines = loaded.lines;
        ParseCommonLine(m_loadedLines.at(0), m_fields);
        // mutate: equivalent: const 1 to 0: the circuit line's parser takes no page 0
        for (int circuit = 1; circuit < kPageCount; ++circuit)
            ParseCircuitLine(circuit, m_loadedLines.at(circuit), m_fields);
        m_lastSettingsFile = shownPath;
        m_lastLoadedFile = path;
        break;
    }
    conclude(outcome);
}

} // namespace veltra
