#include "helpwindow.h"

#include "fonts.h"

#include <QFile>
#include <QFont>
#include <QPlainTextEdit>
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

} // namespace

QString HelpWindow::helpText()
{
    registerHelpResource();
    QFile file(QStringLiteral(":/help/help.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
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

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setAccessibleName(QStringLiteral("ヘルプ"));
    m_text->setReadOnly(true);
    // Read-only still lets a keyboard or screen-reader user move through the text.
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // The text is laid out for a Japanese fixed-pitch font: full-width characters count as
    // two columns in the rulers and indents. Linux desktops seldom have the Windows one.
    QFont font;
    font.setFamilies(fixedPitchFontFamilies());
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    m_text->setFont(font);

    // One block per stored line; the text ends with CR LF, so the last block is empty.
    QString text = helpText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(text);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);

    resize(kClientWidth, kClientHeight);
}

} // namespace veltra
