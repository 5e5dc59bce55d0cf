#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace veltra {

// Form2: the operating instructions, one scrollable block of text. Created on first use by
// the main window, never modal, and deleted when closed so the next open starts afresh.
class HelpWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // The help text exactly as stored: UTF-8, lines ending in CR LF.
    static QString helpText();

    QPlainTextEdit *textField() const { return m_text; }

private:
    QPlainTextEdit *m_text = nullptr;
};

} // namespace veltra
