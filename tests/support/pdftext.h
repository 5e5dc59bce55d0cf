#pragma once

// A PDF the tool wrote, read back with poppler's pdftotext and pdfinfo (poppler-utils,
// scripts/install-deps) as a reader of the paper would see it.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace veltra::test {

// Qt's PDF writer names each glyph by the first code point the font maps to it, so an
// ideograph that a CJK font shares with a Kangxi radical (日, 自, 方 ...) comes out of the
// text layer as the radical (⽇, ⾃, ⽅). The page looks right; compatibility normalisation
// makes the two comparable; so does naming the glyphs that normalisation leaves apart alike
// (～ comes out as the wave dash 〜, ・ as the hyphenation point ‧).
inline QString comparable(const QString &text)
{
    return text.normalized(QString::NormalizationForm_KC)
        .replace(u'\u301C', u'~')
        .replace(u'\u2027', u'\u30FB');
}

// The text of a PDF, laid out as on the page; one string per line.
inline QStringList pdfLines(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), path,
                   QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning("pdftotext: %s %s", qPrintable(process.errorString()),
                 process.readAllStandardError().constData());
        return {};
    }
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    for (QString &line : lines)
        line = comparable(line).trimmed();
    return lines;
}

// Its number of pages; 0 when pdfinfo could not read it.
inline int pdfPageCount(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {path});
    process.waitForFinished(30000);
    static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)"),
                                          QRegularExpression::MultilineOption);
    return pages.match(QString::fromUtf8(process.readAllStandardOutput())).captured(1).toInt();
}

} // namespace veltra::test
