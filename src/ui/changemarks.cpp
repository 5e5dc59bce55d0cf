#include "ui/changemarks.h"

#include "operations/messages.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPainter>

namespace veltra {
namespace {

constexpr qreal kDotDiameter = 6;
constexpr qreal kDotInset = 3;
const QColor kPendingBackground(255, 243, 194); // a soft yellow behind a pending value
const QColor kPendingDot(230, 145, 0);
const QColor kWarningText(192, 0, 0);

void paintField(QComboBox *field, FieldMark mark)
{
    // Only what the mark changes is set; family, size and the other colours stay inherited
    // from the page, and the field's line edit inherits from the field.
    QFont font;
    if (mark == FieldMark::Pending)
        font.setBold(true);
    QPalette palette;
    if (mark == FieldMark::Pending)
        palette.setColor(QPalette::Base, kPendingBackground);
    else if (mark == FieldMark::Warning)
        palette.setColor(QPalette::Text, kWarningText);
    field->setFont(font);
    field->setPalette(palette);
}

} // namespace

void DottedTabBar::setDot(int index, const QColor &color)
{
    if (index < 0 || index >= m_dots.size() || m_dots[index] == color)
        return;
    m_dots[index] = color;
    update(tabRect(index));
}

void DottedTabBar::tabInserted(int index)
{
    m_dots.insert(index, QColor());
    QTabBar::tabInserted(index);
}

void DottedTabBar::tabRemoved(int index)
{
    m_dots.remove(index);
    QTabBar::tabRemoved(index);
}

void DottedTabBar::paintEvent(QPaintEvent *event)
{
    QTabBar::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int index = 0; index < m_dots.size(); ++index) {
        if (!m_dots[index].isValid())
            continue;
        const QRectF tab = tabRect(index);
        painter.setBrush(m_dots[index]);
        painter.drawEllipse(QRectF(tab.right() - kDotInset - kDotDiameter, tab.top() + kDotInset,
                                   kDotDiameter, kDotDiameter));
    }
}

DottedTabWidget::DottedTabWidget(QWidget *parent)
    : QTabWidget(parent), m_bar(new DottedTabBar(this))
{
    // The name Qt gives a tab widget's own bar, so it is found as before.
    m_bar->setObjectName(QStringLiteral("qt_tabwidget_tabbar"));
    setTabBar(m_bar);
}

QColor ChangeMarks::pendingBackgroundColor()
{
    return kPendingBackground;
}

QColor ChangeMarks::warningTextColor()
{
    return kWarningText;
}

QColor ChangeMarks::pendingDotColor()
{
    return kPendingDot;
}

QColor ChangeMarks::warningDotColor()
{
    return kWarningText;
}

ChangeMarks::ChangeMarks(DottedTabWidget *tabs, const QList<Page> &pages, QObject *parent)
    : QObject(parent), m_tabs(tabs), m_pages(pages)
{
    for (int page = 0; page < m_pages.size(); ++page) {
        const Page &p = m_pages[page];
        m_marks << QList<FieldMark>(p.set.size(), FieldMark::None);
        for (int item = 0; item < p.set.size(); ++item) {
            connect(p.present[item], &QLineEdit::textChanged, this,
                    [this, page] { refresh(page); });
            connect(p.set[item], &QComboBox::editTextChanged, this,
                    [this, page] { refresh(page); });
        }
        refresh(page);
        refreshTab(page);
    }
}

FieldMark ChangeMarks::mark(int page, int item) const
{
    if (page < 0 || page >= m_marks.size() || item < 0 || item >= m_marks[page].size())
        return FieldMark::None;
    return m_marks[page][item];
}

FieldMark ChangeMarks::pageMark(int page) const
{
    FieldMark worst = FieldMark::None;
    for (FieldMark m : m_marks.value(page)) {
        if (m == FieldMark::Warning)
            return m;
        if (m == FieldMark::Pending)
            worst = m;
    }
    return worst;
}

void ChangeMarks::refresh(int page)
{
    // One field's change can change the marks of the others ("* * * *" beside a choice).
    const Page &p = m_pages[page];
    QStringList present, set;
    for (int item = 0; item < p.set.size(); ++item) {
        present << p.present[item]->text();
        set << p.set[item]->currentText();
    }
    const QList<FieldState> states = pageStates(page, present, set);
    bool changed = false;
    for (int item = 0; item < states.size(); ++item) {
        QComboBox *field = p.set[item];
        const FieldState &state = states[item];
        const QString explanation = messages::fieldExplanation(state, present[item], set[item]);
        // Each set sends events (and tells screen readers): only when something changed.
        if (field->toolTip() != explanation) {
            field->setToolTip(explanation);
            field->setAccessibleDescription(explanation);
        }
        if (state.mark == m_marks[page][item])
            continue;
        m_marks[page][item] = state.mark;
        paintField(field, state.mark);
        changed = true;
    }
    if (changed)
        refreshTab(page);
}

void ChangeMarks::refreshTab(int page)
{
    // The caption stays as it is; the dot says there is something to look at.
    const FieldMark worst = pageMark(page);
    m_tabs->dottedTabBar()->setDot(page, worst == FieldMark::Warning   ? kWarningText
                                         : worst == FieldMark::Pending ? kPendingDot
                                                                       : QColor());
    m_tabs->setTabToolTip(
        page, worst == FieldMark::Warning ? QStringLiteral("書き込みできない値があります。")
              : worst == FieldMark::Pending ? QStringLiteral("書き込むと変わる値があります。")
                                            : QString());
}

} // namespace veltra
