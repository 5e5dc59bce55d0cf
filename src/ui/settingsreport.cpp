#include "ui/settingsreport.h"

#include "operations/messages.h"
#include "settings/changes.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/settingsfields.h"
#include "ui/changemarks.h"
#include "ui/fonts.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>

namespace veltra {
namespace {

// Sizes in points (1/72 inch).
constexpr double kRowHeight = 17;
constexpr double kHeadingHeight = 22;
constexpr double kTableGap = 12;
constexpr double kFooterHeight = 18;
constexpr double kCellPadding = 4;
// Title, time, port and station, readings, last write, file, fingerprints, legend.
constexpr double kHeaderLines = 8;
constexpr double kHeaderLineHeight = 15;
constexpr double kTitleHeight = 26;

const QColor kRule(150, 150, 150);
const QColor kHeaderBackground(235, 235, 235);
// As the window greys them: present values that may not be the relay's now.
const QColor kOlderText(128, 128, 128);
constexpr double kOlderNoteX = 64;

QFont reportFont(double points, bool bold = false)
{
    QFont font;
    font.setFamilies(windowFontFamilies());
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString pageCaption(int page)
{
    return page == kCommonPage ? QStringLiteral("共通設定") : QStringLiteral("回路 %1").arg(page);
}

double tableHeight(int page)
{
    return kHeadingHeight + kRowHeight * (1 + itemCount(page)) + kTableGap;
}

double headerHeight()
{
    return kTitleHeight + kHeaderLineHeight * (kHeaderLines - 1) + kTableGap;
}

// Which report page each settings page's table goes on, given the usable height.
QList<int> paginate(double usableHeight, int *pageCount)
{
    QList<int> pageOf;
    int reportPage = 0;
    double y = headerHeight();
    for (int page = 0; page < kPageCount; ++page) {
        if (y + tableHeight(page) > usableHeight && y > 0) {
            ++reportPage;
            y = 0;
        }
        pageOf << reportPage;
        y += tableHeight(page);
    }
    *pageCount = reportPage + 1;
    return pageOf;
}

// Paints in points, whatever the device's resolution.
class Canvas
{
public:
    Canvas(QPainter &painter, double scale) : m_painter(painter), m_scale(scale) {}

    QRectF rect(double x, double y, double w, double h) const
    {
        return {x * m_scale, y * m_scale, w * m_scale, h * m_scale};
    }
    void text(const QRectF &points, const QString &text, const QFont &font,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter,
              const QColor &color = Qt::black)
    {
        m_painter.setFont(font);
        m_painter.setPen(color);
        const QRectF inner = rect(points.x() + kCellPadding, points.y(),
                                  points.width() - 2 * kCellPadding, points.height());
        m_painter.drawText(inner, int(alignment) | Qt::TextSingleLine, text);
    }
    void cell(const QRectF &points, const QColor &fill = QColor())
    {
        const QRectF r = rect(points.x(), points.y(), points.width(), points.height());
        if (fill.isValid())
            m_painter.fillRect(r, fill);
        m_painter.setPen(QPen(kRule, 0.5 * m_scale));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRect(r);
    }

private:
    QPainter &m_painter;
    double m_scale;
};

// What one render paints with: the page's size in points and the report's fonts.
struct Sheet
{
    Canvas canvas;
    double width = 0;
    double height = 0;
    int pageCount = 0;
    QFont title = reportFont(16, true);
    QFont meta = reportFont(9);
    QFont heading = reportFont(11, true);
    QFont cell = reportFont(9);
    QFont cellBold = reportFont(9, true);
    QFont note = reportFont(7.5);
};

// What this is, when, and from which relay and file; returns where the first table goes.
double paintHeader(Sheet &sheet, const SettingsFields &fields, const ReportInfo &info)
{
    double y = 0;
    sheet.canvas.text(QRectF(0, y, sheet.width, kTitleHeight),
                      QStringLiteral("VELTRA 設定値レポート"), sheet.title);
    y += kTitleHeight;
    const auto olderPages = std::count_if(info.olderNotes.begin(), info.olderNotes.end(),
                                          [](const QString &note) { return !note.isEmpty(); });
    const QString lines[] = {
        QStringLiteral("作成日時: %1")
            .arg(info.created.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
        QStringLiteral("COMポート: %1　　%2").arg(info.port, messages::stationNumber(info.station)),
        messages::reportReadings(info.readings, int(olderPages)),
        messages::lastWrite(info.lastWrite, info.lastWriteTime),
        messages::reportSettingsFile(info.settingsFile, info.settingsFileEdited),
        QStringLiteral("フィンガープリント: 現在値 %1　　設定値 %2")
            .arg(shownFingerprint(fingerprint(
                     [&](int page, int item) { return fields.presentValue(page, item); })),
                 shownFingerprint(
                     fingerprint([&](int page, int item) { return fields.setValue(page, item); }))),
        QStringLiteral("太字・黄色: 書き込むと変わる設定値　　赤: 書き込みできない設定値"),
    };
    for (const QString &line : lines) {
        sheet.canvas.text(QRectF(0, y, sheet.width, kHeaderLineHeight), line, sheet.meta);
        y += kHeaderLineHeight;
    }
    return y + kTableGap;
}

// One settings page's caption and table from `y` down; returns where the next one goes.
// `older` says why its present values may not be the relay's now, or is empty.
double paintPageTable(Sheet &sheet, double y, const SettingsFields &fields, int page,
                      const QString &older)
{
    Canvas &canvas = sheet.canvas;
    const double width = sheet.width;
    const double columns[] = {0.40 * width, 0.22 * width, 0.22 * width, 0.16 * width};
    canvas.text(QRectF(0, y, width, kHeadingHeight), pageCaption(page), sheet.heading,
                Qt::AlignLeft | Qt::AlignBottom);
    // Values that may not be this relay's now say so, beside the page's name.
    if (!older.isEmpty())
        canvas.text(QRectF(kOlderNoteX, y, width - kOlderNoteX, kHeadingHeight), older, sheet.note,
                    Qt::AlignLeft | Qt::AlignBottom, kOlderText);
    y += kHeadingHeight;

    const QString headers[] = {QStringLiteral("項目"), QStringLiteral("現在値"),
                               QStringLiteral("設定値"), QStringLiteral("書込で")};
    double x = 0;
    for (int c = 0; c < 4; ++c) {
        const QRectF r(x, y, columns[c], kRowHeight);
        canvas.cell(r, kHeaderBackground);
        canvas.text(r, headers[c], sheet.cellBold);
        x += columns[c];
    }
    y += kRowHeight;

    const PageKind kind = pageKind(page);
    QStringList presentTexts, setTexts;
    for (int item = 0; item < itemCount(kind); ++item) {
        presentTexts << fields.presentValue(page, item);
        setTexts << fields.setValue(page, item);
    }
    const QList<FieldState> states = pageStates(page, presentTexts, setTexts);
    for (int row = 0; row < itemCount(kind); ++row) {
        const int item = itemAtScreenRow(kind, row);
        const QString present = presentTexts[item];
        const QString set = setTexts[item];
        const FieldMark mark = states[item].mark;
        const QString cells[] = {rowLabel(kind, item), present, set,
                                 mark == FieldMark::Pending   ? QStringLiteral("変わる")
                                 : mark == FieldMark::Warning ? QStringLiteral("書込不可")
                                                              : QString()};
        x = 0;
        for (int c = 0; c < 4; ++c) {
            const QRectF r(x, y, columns[c], kRowHeight);
            const bool setCell = c == 2;
            canvas.cell(r, setCell && mark == FieldMark::Pending
                               ? ChangeMarks::pendingBackgroundColor()
                               : QColor());
            canvas.text(
                r, cells[c],
                (setCell || c == 3) && mark == FieldMark::Pending ? sheet.cellBold : sheet.cell,
                Qt::AlignLeft | Qt::AlignVCenter,
                (setCell || c == 3) && mark == FieldMark::Warning ? ChangeMarks::warningTextColor()
                : c == 1 && !older.isEmpty()                      ? kOlderText
                                                                  : QColor(Qt::black));
            x += columns[c];
        }
        y += kRowHeight;
    }
    return y + kTableGap;
}

void paintFooter(Sheet &sheet, int reportPage)
{
    sheet.canvas.text(QRectF(0, sheet.height - kFooterHeight, sheet.width, kFooterHeight),
                      QStringLiteral("%1 / %2").arg(reportPage + 1).arg(sheet.pageCount),
                      sheet.meta, Qt::AlignHCenter | Qt::AlignBottom);
}

} // namespace

SettingsReport::SettingsReport(const SettingsFields &fields, const ReportInfo &info)
    : m_fields(fields), m_info(info)
{}

QString SettingsReport::defaultPdfName(const QDateTime &created)
{
    return QStringLiteral("VELTRA設定_%1.pdf")
        .arg(created.toString(QStringLiteral("yyyyMMdd_HHmm")));
}

QPageLayout SettingsReport::pageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                       QPageLayout::Millimeter);
}

bool SettingsReport::render(QPagedPaintDevice *device) const
{
    QPainter painter;
    if (!painter.begin(device))
        return false;
    const double scale = device->logicalDpiY() / 72.0;
    Sheet sheet{Canvas(painter, scale), device->width() / scale, device->height() / scale};
    const QList<int> pageOf = paginate(sheet.height - kFooterHeight, &sheet.pageCount);

    double y = paintHeader(sheet, m_fields, m_info);
    int reportPage = 0;
    for (int page = 0; page < kPageCount; ++page) {
        if (pageOf[page] != reportPage) {
            paintFooter(sheet, reportPage);
            device->newPage();
            reportPage = pageOf[page];
            y = 0;
        }
        y = paintPageTable(sheet, y, m_fields, page, m_info.olderNotes[std::size_t(page)]);
    }
    paintFooter(sheet, reportPage);
    return painter.end();
}

} // namespace veltra
