#pragma once

#include "operations/userprompts.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

namespace veltra {

// Where a message box's top-left corner goes: 50 px up and left of the main window's
// centre, shifted left 6 px a character for short texts, or 40 px in from the window's
// left edge for long ones. Nothing when the client area has no extent (minimised).
std::optional<QPoint> ComputeMessageBoxPosition(const QRect &frameGeometry, const QSize &clientSize,
                                                const QString &text);

// Real message boxes placed over the main window, and the two file dialogs.
class MessageBoxPrompts final : public UserPrompts
{
public:
    explicit MessageBoxPrompts(QWidget *mainWindow);

    int ShowMessage(const QString &text, int style, const QString &details = {}) override;
    void showNotice(const QString &text) override;
    std::optional<QString> saveFileName() override;
    std::optional<QString> openFileName() override;
    std::optional<QString> saveEditedFileName(const QString &proposedPath) override;
    std::optional<QString> openSiteFileName() override;
    std::optional<QString> savePdfFileName(const QString &proposedName) override;
    std::optional<QString> saveLogFileName(const QString &proposedName) override;
    void showAbout(const QString &text) override;

private:
    std::optional<QString> runFileDialog(bool save, const QString &proposedPath = {});
    // Where the classic placement puts a box of `text`; nowhere in particular while minimised.
    void placeOverMainWindow(QWidget *box, const QString &text) const;
    // A save dialog for a file the tool makes beside the settings: a report, a log.
    std::optional<QString> runOtherSaveDialog(const QString &title, const QString &filter,
                                              const QString &suffix, QString *lastFolder,
                                              const QString &proposedName);

    QWidget *m_mainWindow;
    QString m_lastFileName; // proposed by both dialogs for the rest of the run
    QString m_lastPdfFolder;
    QString m_lastLogFolder;
    QString m_lastSiteFolder;
};

} // namespace veltra
