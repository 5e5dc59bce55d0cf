#pragma once

#include "operations/framelog.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace veltra {

// The communications monitor, the frame log and the clear controls. The main window has no
// room for them, so they live here, opened with Ctrl+Shift+M and closed by default; Esc or
// 閉じる closes it.
class ServiceWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit ServiceWindow(QWidget *parent = nullptr);

    QLineEdit *requestMonitor() const { return m_text10; }
    QLineEdit *replyMonitor() const { return m_text11; }
    QLineEdit *writeMonitor() const { return m_text12; }
    QLabel *stationCaption() const { return m_station; }
    QRadioButton *clearOption(int index) const { return m_options[index]; }
    QPushButton *clearButton() const { return m_command11; }
    // "書込後に読み戻して照合": the window keeps it and the menu's item in step.
    QCheckBox *verifyOption() const { return m_verify; }
    // What the serial line has to say about itself (SerialPort::notice), below the monitor.
    void showLineNotice(const QString &text);
    // Every frame of this run, one line each (FrameLog::line), and what saves it.
    QPlainTextEdit *frameLogView() const { return m_log; }
    QPushButton *saveLogButton() const { return m_saveLog; }
    QPushButton *closeButton() const { return m_close; }
    // A flood of bytes makes one line of up to 64 KiB, which the list lays out slowly and
    // nobody reads there: its frame is cut after this many bytes. A saved log keeps it whole.
    static constexpr qsizetype kShownFrameBytes = 64;
    void appendLogEntry(const FrameLog::Entry &entry);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLineEdit *m_text10;
    QLineEdit *m_text11;
    QLineEdit *m_text12;
    QLabel *m_station;
    QLabel *m_notice;
    QRadioButton *m_options[2];
    QPushButton *m_command11;
    QCheckBox *m_verify;
    QPlainTextEdit *m_log;
    QPushButton *m_saveLog;
    QPushButton *m_close;
};

} // namespace veltra
