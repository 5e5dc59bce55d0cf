#pragma once

#include "site/sitecheck.h"
#include "site/sitefile.h"
#include "site/sitelog.h"
#include "site/sitewrite.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace veltra {

class MainWindow;
class UserPrompts;

// A plant's relays, one row each, beside the main window: checked all at once or one by one
// as the engineer walks from panel to panel, written where they differ, and handed to the
// main window one at a time for the classic flow.
class SiteWindow : public QWidget
{
    Q_OBJECT
public:
    enum Column {
        TagColumn,
        PlaceColumn,
        PortColumn,
        StationExpectedColumn,
        StationReadColumn,
        DesignFingerprintColumn,
        RelayFingerprintColumn,
        StateColumn,
        DifferencesColumn,
        LastWriteColumn,
        ColumnCount
    };

    SiteWindow(MainWindow &main, UserPrompts &prompts, SiteChecker::LineFactory makeLine = {},
               QWidget *parent = nullptr);

    // Reads the site file and its log; its rows replace the window's. False when the file has
    // a problem: they are listed in the window, and nothing is sent until it is opened again.
    bool openSite(const QString &path);
    const SiteFile &site() const { return m_site; }
    QTableWidget *table() const { return m_table; }

    // 全リレー確認; the check of the current row alone; 選択したリレーに書込.
    void checkAll();
    void checkCurrent();
    void writeSelected();
    // 記録を出力...: every relay read now, and the commissioning record saved as a PDF.
    void saveRecord();
    // A row's port, design and station handed to the main window.
    void useInMainWindow(int row);
    // Esc: no relay begins after the one on each line.
    void stop();
    bool busy() const { return m_busy; }
    // The last result of each relay, in file order.
    const QList<RelayCheck> &results() const { return m_results; }

signals:
    void busyChanged(bool busy);
    // A row's state column now says `text`: a result, or how far its check or write is.
    void stateShown(int row, const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void check(const QList<int> &rows);
    void showRow(int row);
    void showState(int row, const QString &text, RelayCheck::Status colourOf);
    void showLastWrite(int row);
    void setBusy(bool busy);
    // The site log opened before anything is sent; false, said, when it cannot be.
    bool openLog();
    void appendLog(const SiteLogEntry &entry);
    // Says so when a line did not reach the site log.
    void reportLog();
    int rowOf(const QString &tag) const;

    MainWindow &m_main;
    UserPrompts &m_prompts;
    SiteChecker::LineFactory m_makeLine;
    SiteFile m_site;
    QList<RelayCheck> m_results; // by row
    QList<SiteLogEntry> m_log;
    std::unique_ptr<SiteLog> m_logFile; // this site's, once something was sent
    bool m_logIncomplete = false;
    QTableWidget *m_table = nullptr;
    QLabel *m_summary = nullptr;
    QPlainTextEdit *m_problems = nullptr;
    QPushButton *m_checkAll = nullptr;
    QPushButton *m_checkOne = nullptr;
    QPushButton *m_write = nullptr;
    QPushButton *m_record = nullptr;
    SiteChecker *m_checker = nullptr; // while a check runs
    SiteWriter *m_writer = nullptr;   // while a write runs
    bool m_busy = false;
};

} // namespace veltra
