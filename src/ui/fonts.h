#pragma once

#include <QFont>
#include <QStringList>

namespace veltra {

// Families for the window's Japanese text, in order of preference. ＭＳ ゴシック is the look
// the window was laid out with; on Windows where that optional font is not installed, the UI
// fonts every Windows 10 and 11 carries come next, then the Linux families.
inline QStringList windowFontFamilies()
{
    return {QStringLiteral("ＭＳ ゴシック"),         QStringLiteral("MS Gothic"),
            QStringLiteral("Yu Gothic UI"),          QStringLiteral("Meiryo UI"),
            QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")};
}

// The font of the window's labels, fields and buttons.
inline QFont windowFont()
{
    QFont font;
    font.setFamilies(windowFontFamilies());
    font.setPointSizeF(9);
    return font;
}

// Fixed-pitch only: the help text's rulers and indents count a full-width character as two
// columns, which a proportional font would break.
inline QStringList fixedPitchFontFamilies()
{
    return {QStringLiteral("ＭＳ ゴシック"),         QStringLiteral("MS Gothic"),
            QStringLiteral("BIZ UDゴシック"),        QStringLiteral("BIZ UDGothic"),
            QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")};
}

} // namespace veltra
