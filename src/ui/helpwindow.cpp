#include "helpwindow.h"

#include "fonts.h"

#include <QFile>
#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

// The resource lives in a static library, so its registration has to be pulled in by hand;
// Q_INIT_RESOURCE must be used outside any namespace.
static void registerHelpResource()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(help);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace veltra {

namespace {

// 9135 x 6525 twips at 15 twips per pixel.
constexpr int kClientWidth = 609;
constexpr int kClientHeight = 435;

QString resourceText(const QString &path)
{
    registerHelpResource();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Both texts are laid out for a Japanese fixed-pitch font: full-width characters count as two
// columns in the rulers, indents and tables. Lines are never wrapped; long ones scroll.
QPlainTextEdit *makeTextField(const QString &name, const QString &accessibleName, QString text,
                              QWidget *parent)
{
    auto *field = new QPlainTextEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessibleName);
    field->setReadOnly(true);
    // Read-only still lets a keyboard or screen-reader user move through the text.
    field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // Linux desktops seldom have the Windows font.
    QFont font;
    font.setFamilies(fixedPitchFontFamilies());
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    field->setFont(font);

    // One block per stored line; a text ending in a line break ends in an empty block.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    field->setPlainText(text);
    return field;
}

} // namespace

QString HelpWindow::helpText()
{
    return resourceText(QStringLiteral(":/help/help.txt"));
}

QString HelpWindow::additionsText()
{
    return resourceText(QStringLiteral(":/help/help-additions.txt"));
}

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("VELTRA設定ヘルプ"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::NonModal);
    setFont(windowFont());

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("HelpTabs"));
    // No frame around the pages: each text fills the window under the tabs, as the classic
    // text filled the window.
    m_tabs->setDocumentMode(true);
    m_text = makeTextField(QStringLiteral("Text1"), QStringLiteral("ヘルプ"), helpText(), m_tabs);
    m_additions =
        makeTextField(QStringLiteral("Text2"), QStringLiteral("追加機能"), additionsText(), m_tabs);
    m_tabs->addTab(m_text, QStringLiteral("基本機能"));
    m_tabs->addTab(m_additions, QStringLiteral("追加機能"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);

    resize(kClientWidth, kClientHeight);
}

void HelpWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

} // namespace veltra
