#pragma once

#include "settings/changes.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QTabBar>
#include <QTabWidget>

class QComboBox;
class QLineEdit;

namespace veltra {

// A tab bar that can put a small dot in the corner of a tab. The dot is painted over the tab
// rather than set as its icon: an icon would widen every tab, and nine tabs must stay in
// one row of the classic width.
class DottedTabBar final : public QTabBar
{
    Q_OBJECT
public:
    using QTabBar::QTabBar;

    // An invalid colour takes the dot away.
    void setDot(int index, const QColor &color);
    QColor dot(int index) const { return m_dots.value(index); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void tabRemoved(int index) override;
    void tabInserted(int index) override;

private:
    QList<QColor> m_dots;
};

// The window's tab control, with a DottedTabBar.
class DottedTabWidget final : public QTabWidget
{
    Q_OBJECT
public:
    explicit DottedTabWidget(QWidget *parent = nullptr);
    DottedTabBar *dottedTabBar() const { return m_bar; }

private:
    DottedTabBar *m_bar;
};

// Marks each set value that differs from the present value beside it (bold on a soft
// highlight) or that cannot be written as it stands (red), with the reason as tooltip and
// accessible description, and puts a dot (with the reason as the tab's tooltip) on the tab of
// every page that holds a mark. Follows every change of either field at once.
class ChangeMarks final : public QObject
{
    Q_OBJECT
public:
    struct Page
    {
        QList<QLineEdit *> present; // by item
        QList<QComboBox *> set;     // by item
    };

    ChangeMarks(DottedTabWidget *tabs, const QList<Page> &pages, QObject *parent = nullptr);

    FieldMark mark(int page, int item) const;
    // The worst mark of a page: Warning over Pending over None.
    FieldMark pageMark(int page) const;

    // The report prints marks in the colours of the screen.
    static QColor pendingBackgroundColor();
    static QColor warningTextColor();
    static QColor pendingDotColor();
    static QColor warningDotColor();

private:
    void refresh(int page);
    void refreshTab(int page);

    DottedTabWidget *m_tabs;
    QList<Page> m_pages;
    QList<QList<FieldMark>> m_marks;
};

} // namespace veltra
