#pragma once

#include "operations/commands.h"
#include "settings/settingsfields.h"
#include "ui/helpwindow.h"
#include "ui/settingsreport.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace veltra {

class ChangeMarks;
class SiteWindow;
class DottedTabWidget;
class DeviceLink;
class FrameLog;
class SerialPort;
class ServiceWindow;
class UserPrompts;

// Form1: the whole working surface. It owns every setting value; the core reaches the
// fields through SettingsFields.
class MainWindow final : public QMainWindow, public SettingsFields
{
    Q_OBJECT
public:
    // `prompts` shows messages and file dialogs; null uses real message boxes and dialogs.
    // `line` is the serial line (the window takes it); null uses the platform's.
    explicit MainWindow(UserPrompts *prompts = nullptr, const QString &initialPort = {},
                        SerialPort *line = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    QString presentValue(int page, int item) const override;
    void setPresentValue(int page, int item, const QString &text) override;
    QString setValue(int page, int item) const override;
    void setSetValue(int page, int item, const QString &text) override;
    bool clearOptionSelected(int index) const override;
    QString portText() const override;
    void setPortText(const QString &text) override;
    void setBusyPointer(bool busy) override;

    Commands &commands() { return *m_commands; }
    const ChangeMarks &changeMarks() const { return *m_marks; }
    DeviceLink &link() { return *m_link; }
    // Monitor fields and clear controls; reachable with Ctrl+Shift+M.
    ServiceWindow &serviceWindow() { return *m_service; }
    HelpWindow *helpWindow() const { return m_help; }
    // The site window, once a site was opened; it stays for the rest of the run.
    SiteWindow *siteWindow() const { return m_siteWindow; }
    const FrameLog &frameLog() const { return *m_frameLog; }
    // Present values that may not be the relay's on the port now named are shown in this.
    static QColor olderTextColor();

signals:
    // The program should end now (exit button, or the window closed).
    void exitRequested();

public slots:
    void showHelp();
    void showServiceWindow();
    // ファイル → サイトを開く...: the site file asked for, shown in the site window.
    void openSite();
    // The same for a site file named elsewhere (the command line's --site).
    void openSiteFile(const QString &path);
    // ログを保存...: the frame log as a UTF-8 text file, whole or not at all.
    void saveFrameLog();
    // 通信 → リレーを探す: the present ports and the port field's text, all at once.
    void findRelay();
    // The settings report: a print preview, or a PDF through a save dialog.
    void printReport();
    void saveReportAsPdf();
    void showAbout();
    // Loads a settings file named outside the window (command line, a drop) as 既存設定値取得
    // does after its dialog, once the event loop runs.
    void openSettingsFileLater(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct PageWidgets
    {
        QList<QLineEdit *> present;
        QList<QComboBox *> set;
        std::array<QPushButton *, 3> buttons{}; // by PageAction
        QPushButton *button(PageAction action) const { return buttons[std::size_t(action)]; }
    };

    void buildMenus();
    // The status line: where and when the present values came from, or what runs now.
    void buildStatusLine();
    void showStatus(const QString &text);
    // Ignored while a command runs, unless its outcome is already `concluded`.
    void refreshStatus(bool concluded = false);
    void buildTopBand(QWidget *central);
    ReportInfo reportInfo(const QDateTime &created) const;
    void buildPages(QWidget *central);
    void buildPage(int page, QWidget *widget);
    void populateLists(const QString &initialPort);
    void setTabOrder();
    void exitButton();
    void loadDroppedFile(const QString &path);
    // Greys the present values of every page that may not be the relay's now, with why.
    void refreshReadings();
    // Keeps what the report tells of a command that has ended: a write or clear that went to
    // the line, the set values as a settings file was loaded or saved.
    void recordOutcome();
    QStringList allSetValues() const;

    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts *m_prompts = nullptr;
    SerialPort *m_port = nullptr;
    DeviceLink *m_link = nullptr;
    Commands *m_commands = nullptr;
    QComboBox *m_portCombo = nullptr;
    DottedTabWidget *m_tabs = nullptr;
    std::array<PageWidgets, 9> m_pages;
    QList<QPushButton *> m_topButtons;
    QPushButton *m_helpButton = nullptr;
    QPushButton *m_exitButton = nullptr;
    ServiceWindow *m_service = nullptr;
    SiteWindow *m_siteWindow = nullptr;
    FrameLog *m_frameLog = nullptr;
    QLabel *m_status = nullptr;
    QString m_progress;        // the running command's step, "読込中 3/9"
    QElapsedTimer m_waitClock; // since the last request went
    QTimer m_waitTimer;        // counts the wait for its reply up on the status line
    bool m_servicePlaced = false;
    ChangeMarks *m_marks = nullptr;
    QPointer<HelpWindow> m_help;
    bool m_exiting = false;
    std::optional<Outcome> m_lastWrite;
    QDateTime m_lastWriteTime;
    QStringList m_fileSetValues; // as the settings file named last was loaded or saved
};

} // namespace veltra
