#include "ui/messageboxes.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QWidget>

#include <cmath>

namespace veltra {

namespace {

// Boxes stand where they stood before the status line was added below the classic area.
QSize placementSize(const QWidget *window)
{
    QSize size = window->size();
    if (const auto *status = window->findChild<QStatusBar *>(); status && status->isVisible())
        size.rheight() -= status->height();
    return size;
}

constexpr int kCornerOffset = 50;
constexpr int kShortTextLimit = 30;
constexpr int kPixelsPerCharacter = 12;
constexpr int kLongTextIndent = 40;

// Halves go to the even neighbour, as the placement has always rounded.
int roundHalfEven(double value)
{
    return int(std::nearbyint(value));
}

// Window managers may place a box after move(); put it back once it is shown.
class StayAt final : public QObject
{
public:
    StayAt(QWidget *box, QPoint position) : QObject(box), m_position(position) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            static_cast<QWidget *>(watched)->move(m_position);
        return false;
    }

private:
    QPoint m_position;
};

} // namespace

void MessageBoxPrompts::placeOverMainWindow(QWidget *box, const QString &text) const
{
    const auto position = ComputeMessageBoxPosition(
        m_mainWindow->frameGeometry(),
        m_mainWindow->isMinimized() ? QSize() : placementSize(m_mainWindow), text);
    if (position) {
        box->move(*position);
        box->installEventFilter(new StayAt(box, *position));
    }
}

std::optional<QPoint> ComputeMessageBoxPosition(const QRect &frameGeometry, const QSize &clientSize,
                                                const QString &text)
{
    if (clientSize.width() <= 0 || clientSize.height() <= 0)
        return std::nullopt;
    const double left = frameGeometry.left();
    const double top = frameGeometry.top();
    int x = roundHalfEven(left + frameGeometry.width() / 2.0 - kCornerOffset);
    const int y = roundHalfEven(top + frameGeometry.height() / 2.0 - kCornerOffset);
    const qsizetype length = text.size();
    if (length <= kShortTextLimit)
        x -= int(length) * kPixelsPerCharacter / 2;
    else
        x = roundHalfEven(left + kLongTextIndent);
    return QPoint(x, y);
}

MessageBoxPrompts::MessageBoxPrompts(QWidget *mainWindow) : m_mainWindow(mainWindow) {}

int MessageBoxPrompts::ShowMessage(const QString &text, int style, const QString &details)
{
    const bool confirm = style == kStyleConfirm;
    QMessageBox box(confirm ? QMessageBox::Question : QMessageBox::Warning, QStringLiteral("確認"),
                    text, confirm ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    m_mainWindow);
    // A file path is text, never markup.
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details);
    if (confirm) {
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    placeOverMainWindow(&box, text);
    const int answer = box.exec();
    if (!confirm)
        return kAnswerOk;
    return answer == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
}

void MessageBoxPrompts::showNotice(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("確認"), text, QMessageBox::Ok,
                                m_mainWindow);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    placeOverMainWindow(box, text);
    box->show();
}

std::optional<QString> MessageBoxPrompts::saveEditedFileName(const QString &proposedPath)
{
    return runFileDialog(true, proposedPath);
}

std::optional<QString> MessageBoxPrompts::runFileDialog(bool save, const QString &proposedPath)
{
    QFileDialog dialog(m_mainWindow);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The open dialog takes any name, as the old one did; reading then decides.
    dialog.setFileMode(QFileDialog::AnyFile);
#ifdef Q_OS_WIN
    // Windows' own dialog adds the first filter's suffix to a name typed without one
    // (QTBUG-31381); Qt's dialog keeps a typed name as it is, as the tool always has there.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#else
    // A file saved as "relayA" would not be listed under *.DT, where the open dialog looks, as
    // the native Windows dialog would not have let happen. Qt's dialog would add the suffix to
    // a name opened as well: saves only.
    if (save)
        dialog.setDefaultSuffix(QStringLiteral("DT"));
#endif
    dialog.setNameFilters(
        {QStringLiteral("データー ファイル (*.DT)"), QStringLiteral("すべてのファイル (*.*)")});
    if (!proposedPath.isEmpty())
        dialog.selectFile(proposedPath);
    else if (!m_lastFileName.isEmpty())
        dialog.selectFile(m_lastFileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    m_lastFileName = dialog.selectedFiles().constFirst();
    return m_lastFileName;
}

std::optional<QString> MessageBoxPrompts::savePdfFileName(const QString &proposedName)
{
    return runOtherSaveDialog(QStringLiteral("PDFに保存"), QStringLiteral("PDF (*.pdf)"),
                              QStringLiteral("pdf"), &m_lastPdfFolder, proposedName);
}

std::optional<QString> MessageBoxPrompts::openSiteFileName()
{
    QFileDialog dialog(m_mainWindow, QStringLiteral("サイトを開く"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("サイトファイル (*.csv)"), QStringLiteral("すべてのファイル (*)")});
#ifdef Q_OS_WIN
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (!m_lastSiteFolder.isEmpty())
        dialog.setDirectory(m_lastSiteFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    m_lastSiteFolder = QFileInfo(path).absolutePath();
    return path;
}

std::optional<QString> MessageBoxPrompts::saveLogFileName(const QString &proposedName)
{
    return runOtherSaveDialog(QStringLiteral("ログを保存"), QStringLiteral("テキスト (*.txt)"),
                              QStringLiteral("txt"), &m_lastLogFolder, proposedName);
}

std::optional<QString> MessageBoxPrompts::runOtherSaveDialog(const QString &title,
                                                             const QString &filter,
                                                             const QString &suffix,
                                                             QString *lastFolder,
                                                             const QString &proposedName)
{
    QFileDialog dialog(m_mainWindow, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
#ifdef Q_OS_WIN
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (!lastFolder->isEmpty())
        dialog.setDirectory(*lastFolder);
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    *lastFolder = QFileInfo(path).absolutePath();
    return path;
}

void MessageBoxPrompts::showAbout(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("バージョン情報"), text,
                    QMessageBox::Ok, m_mainWindow);
    box.setTextFormat(Qt::PlainText);
    if (!QApplication::windowIcon().isNull())
        box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.exec();
}

std::optional<QString> MessageBoxPrompts::saveFileName()
{
    return runFileDialog(true);
}

std::optional<QString> MessageBoxPrompts::openFileName()
{
    return runFileDialog(false);
}

} // namespace veltra
