#pragma once

#include <QWidget>

class QPlainTextEdit;
class QTabWidget;

namespace veltra {

// Form2: the operating instructions. The classic text is the first tab, unchanged; the second
// describes what was added to the tool since. Created on first use by the main window, never
// modal, and deleted when closed (Esc closes it) so the next open starts afresh.
class HelpWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // The classic help text exactly as stored: UTF-8, lines ending in CR LF.
    static QString helpText();
    // The second tab's text, "追加機能": UTF-8, lines ending in LF.
    static QString additionsText();

    QTabWidget *tabs() const { return m_tabs; }
    // The classic text (first tab) and the additions (second tab).
    QPlainTextEdit *textField() const { return m_text; }
    QPlainTextEdit *additionsField() const { return m_additions; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QTabWidget *m_tabs = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QPlainTextEdit *m_additions = nullptr;
};

} // namespace veltra
