#pragma once

#include <QString>

#include <optional>

namespace veltra {

// Message box styles and answers by the codes the relay tool has always used: what
// ShowMessage takes and gives back.
enum MessageCode : int {
    kStyleNotice = 48,   // exclamation icon, OK
    kStyleConfirm = 292, // question icon, Yes/No, No is the default
    kAnswerOk = 1,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

// Everything that waits on the user. Tests script it; the window shows real boxes.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // A modal box titled "確認"; returns the answer code. `details`, when given, is a second
    // part the user may open (what a write would change); the question itself is `text`.
    virtual int ShowMessage(const QString &text, int style, const QString &details = {}) = 0;

    // A notice that does not wait for its OK: for news that arrives while a command waits on
    // the relay, where a modal box would hold the wait up.
    virtual void showNotice(const QString &text) = 0;

    // Save dialog (asks before overwriting) and open dialog; nullopt when cancelled.
    // Both propose the name chosen last in either dialog.
    virtual std::optional<QString> saveFileName() = 0;
    virtual std::optional<QString> openFileName() = 0;
    // The save dialog for a file made from the values to write, proposing `proposedPath`
    // (the file last loaded) when there is one.
    virtual std::optional<QString> saveEditedFileName(const QString &proposedPath) = 0;

    // Open dialog for a site file (CSV); nullopt when cancelled.
    virtual std::optional<QString> openSiteFileName() = 0;
    // Save dialog for a PDF report, proposing `proposedName` (asks before overwriting).
    virtual std::optional<QString> savePdfFileName(const QString &proposedName) = 0;
    // Save dialog for the frame log, a text file (asks before overwriting).
    virtual std::optional<QString> saveLogFileName(const QString &proposedName) = 0;
    // The version box: program, license, Qt, build date.
    virtual void showAbout(const QString &text) = 0;
};

} // namespace veltra
