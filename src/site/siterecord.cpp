#include "site/siterecord.h"

#include "file/wholefile.h"
#include "operations/messages.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "site/sitefile.h"
#include "ui/fonts.h"
#include "version.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <array>

namespace veltra {
namespace {

using Status = RelayCheck::Status;

// Sizes in points (1/72 inch).
constexpr double kTitleHeight = 30;
constexpr double kLineHeight = 15;
constexpr double kRowHeight = 18;
constexpr double kHeadingHeight = 24;
constexpr double kGap = 14;
constexpr double kFooterHeight = 18;
constexpr double kPadding = 4;
constexpr double kLabelWidth = 110;
constexpr double kSignatureHeight = 96;

const QColor kRule(150, 150, 150);
const QColor kLabelBackground(235, 235, 235);

// Behind the status only: its mark and word say it without colour, on a black-and-white copy.
QColor tint(Status status)
{
    switch (status) {
    case Status::Match:
        return {222, 242, 222};
    case Status::Differs:
        return {255, 238, 196};
    case Status::WrongStation:
        return {255, 222, 196};
    case Status::NoReply:
    case Status::DataError:
    case Status::PortUnusable:
        return {250, 212, 212};
    case Status::NotReached:
        return {228, 228, 228};
    case Status::DesignInvalid:
        return {238, 214, 238};
    }
    Q_UNREACHABLE();
}

QString statusText(Status status)
{
    return messages::siteStatusMark(status) + u' ' + messages::siteStatusText(status);
}

QString timeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString stationPair(const RelayCheck &check)
{
    return QStringLiteral("%1 / %2").arg(
        messages::stationText(check.relay.station),
        check.stationRead ? messages::stationText(*check.stationRead) : QStringLiteral("—"));
}

// "2026-05-01 10:02:11　山田　書込済み", or なし.
QString logLine(const QList<SiteLogEntry> &log, const QString &tag, const char16_t *operation)
{
    const SiteLogEntry *entry = lastEntry(log, tag, QString::fromUtf16(operation));
    if (!entry)
        return QStringLiteral("なし");
    return QStringLiteral("%1　%2　%3")
        .arg(timeText(entry->time),
             entry->engineer.isEmpty() ? QStringLiteral("(技術者名なし)") : entry->engineer,
             messages::siteLogResult(*entry));
}

// The design's fingerprint also for a relay that was not read: the record names what was meant.
std::optional<QString> designFingerprint(const RelayCheck &check)
{
    if (check.designFingerprint || !check.relay.designValid)
        return check.designFingerprint;
    MemoryFields design;
    if (!loadDesign(check.relay.designPath, design))
        return std::nullopt;
    return fingerprint([&](int page, int item) { return design.setValue(page, item); });
}

QFont recordFont(double points, bool bold = false)
{
    QFont font;
    font.setFamilies(windowFontFamilies());
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

struct Fonts
{
    QFont title = recordFont(17, true);
    QFont meta = recordFont(9.5);
    QFont heading = recordFont(11, true);
    QFont cell = recordFont(9);
    QFont cellBold = recordFont(9, true);
    QFont note = recordFont(7.5);
};

// Lays the record out page by page. A first pass with no painter only counts the pages, so
// that the second, which paints, can number them "n / N".
class Sheets
{
public:
    Sheets(QPagedPaintDevice &device, QPainter *painter, int pageCount, const QString &footer)
        : m_device(device), m_painter(painter), m_scale(device.logicalDpiY() / 72.0),
          m_pageCount(pageCount), m_footer(footer)
    {}

    double width() const { return m_device.width() / m_scale; }
    double bottom() const { return m_device.height() / m_scale - kFooterHeight; }
    int pages() const { return m_page + 1; }

    // A new page unless `height` fits below `y` on this one; a page just begun keeps it all
    // the same, as nothing would fit better on the next.
    bool keep(double height)
    {
        if (y == 0 || y + height <= bottom())
            return false;
        newPage();
        return true;
    }
    void newPage()
    {
        paintFooter();
        if (m_painter)
            m_device.newPage();
        ++m_page;
        y = 0;
    }
    void finish() { paintFooter(); }

    void text(const QRectF &points, const QString &text, const QFont &font,
              int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine)
    {
        if (!m_painter)
            return;
        m_painter->setFont(font);
        m_painter->setPen(Qt::black);
        m_painter->drawText(device(inner(points)), flags, text);
    }
    // A line cut to its cell with "…" rather than run over the next.
    void fitted(const QRectF &points, const QString &text, const QFont &font,
                Qt::TextElideMode mode = Qt::ElideRight)
    {
        const QString shown =
            QFontMetricsF(font, &m_device)
                .elidedText(text, mode, (points.width() - 2 * kPadding) * m_scale);
        this->text(points, shown, font);
    }
    void wrapped(const QRectF &points, const QString &text, const QFont &font)
    {
        this->text(points.adjusted(0, kPadding / 2, 0, 0), text, font, kWrapFlags);
    }
    void cell(const QRectF &points, const QColor &fill = QColor())
    {
        if (!m_painter)
            return;
        const QRectF r = device(points);
        if (fill.isValid())
            m_painter->fillRect(r, fill);
        m_painter->setPen(QPen(kRule, 0.5 * m_scale));
        m_painter->setBrush(Qt::NoBrush);
        m_painter->drawRect(r);
    }
    // The height a wrapped text takes in a cell `width` wide, never less than a row.
    double wrappedHeight(const QString &text, const QFont &font, double width) const
    {
        const QRectF bounds = QFontMetricsF(font, &m_device)
                                  .boundingRect(QRectF(0, 0, (width - 2 * kPadding) * m_scale, 1e6),
                                                kWrapFlags, text);
        return std::max(kRowHeight, bounds.height() / m_scale + kPadding * 1.5);
    }

    double y = 0;

private:
    static constexpr int kWrapFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;

    QRectF inner(const QRectF &points) const { return points.adjusted(kPadding, 0, -kPadding, 0); }
    QRectF device(const QRectF &points) const
    {
        return {points.x() * m_scale, points.y() * m_scale, points.width() * m_scale,
                points.height() * m_scale};
    }
    void paintFooter()
    {
        const double top = bottom();
        const QFont small = recordFont(7.5), number = recordFont(9);
        text(QRectF(0, top, width(), kFooterHeight), m_footer, small,
             Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine);
        text(QRectF(0, top, width(), kFooterHeight),
             QStringLiteral("%1 / %2").arg(m_page + 1).arg(m_pageCount), number,
             Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine);
    }

    QPagedPaintDevice &m_device;
    QPainter *m_painter;
    double m_scale;
    int m_pageCount;
    QString m_footer;
    int m_page = 0;
};

// A row of cells across the page, `widths` as fractions of it.
template<std::size_t N>
void tableRow(Sheets &sheets, const std::array<double, N> &widths,
              const std::array<QString, N> &texts, const QFont &font, const QColor &fill = {},
              int tinted = -1, const QColor &tint = {})
{
    double x = 0;
    for (std::size_t c = 0; c < N; ++c) {
        const QRectF r(x, sheets.y, widths[c] * sheets.width(), kRowHeight);
        sheets.cell(r, int(c) == tinted ? tint : fill);
        sheets.fitted(r, texts[c], font);
        x += r.width();
    }
    sheets.y += kRowHeight;
}

constexpr std::array<double, 5> kSummaryColumns{0.16, 0.19, 0.25, 0.18, 0.22};

void summaryHeader(Sheets &sheets, const Fonts &fonts)
{
    tableRow<5>(sheets, kSummaryColumns,
                {QStringLiteral("名称"), QStringLiteral("場所"), QStringLiteral("ポート"),
                 QStringLiteral("局番号 設定/読込"), QStringLiteral("状態")},
                fonts.cellBold, kLabelBackground);
}

void signatureBox(Sheets &sheets, double x, double width, const QString &title, const QString &name,
                  const Fonts &fonts)
{
    const double top = sheets.y;
    const QRectF head(x, top, width, kRowHeight);
    sheets.cell(head, kLabelBackground);
    sheets.text(head, title, fonts.cellBold);
    sheets.cell(QRectF(x, top + kRowHeight, width, kSignatureHeight - kRowHeight));
    sheets.text(QRectF(x, top + kRowHeight, width, kRowHeight),
                QStringLiteral("氏名: %1").arg(name), fonts.cell);
    sheets.text(QRectF(x, top + kRowHeight * 2, width, kRowHeight), QStringLiteral("署名:"),
                fonts.cell);
    sheets.text(QRectF(x, top + kSignatureHeight - kRowHeight, width, kRowHeight),
                QStringLiteral("日付:　　　　年　　月　　日"), fonts.cell);
}

// The first page: what, where, when and by whom; one row per relay; the signatures.
void paintSummary(Sheets &sheets, const SiteRecord &record, const Fonts &fonts)
{
    const double width = sheets.width();
    sheets.text(QRectF(0, 0, width, kTitleHeight), QStringLiteral("VELTRA サイト記録"),
                fonts.title);
    sheets.y = kTitleHeight;

    QStringList counts;
    for (const Status status :
         {Status::Match, Status::Differs, Status::WrongStation, Status::NoReply, Status::DataError,
          Status::PortUnusable, Status::NotReached, Status::DesignInvalid}) {
        const auto n = std::count_if(record.checks.begin(), record.checks.end(),
                                     [status](const RelayCheck &c) { return c.status == status; });
        if (n > 0)
            counts << QStringLiteral("%1 %2 台").arg(statusText(status)).arg(n);
    }
    const QString lines[] = {
        QStringLiteral("サイトファイル: %1").arg(QFileInfo(record.sitePath).fileName()),
        QStringLiteral("作成日時: %1").arg(timeText(record.created)),
        QStringLiteral("技術者: %1").arg(record.engineer),
        QStringLiteral("VELTRA %1 台: %2")
            .arg(record.checks.size())
            .arg(counts.join(QStringLiteral("　"))),
    };
    for (const QString &line : lines) {
        // The counts of a site of many kinds run on to a second line rather than be cut.
        const double height =
            std::max(kLineHeight, sheets.wrappedHeight(line, fonts.meta, width) - kPadding);
        sheets.wrapped(QRectF(0, sheets.y, width, height), line, fonts.meta);
        sheets.y += height;
    }
    sheets.y += kGap;

    summaryHeader(sheets, fonts);
    for (const RelayCheck &check : record.checks) {
        if (sheets.keep(kRowHeight))
            summaryHeader(sheets, fonts);
        tableRow<5>(sheets, kSummaryColumns,
                    {check.relay.tag, check.relay.place, check.relay.port, stationPair(check),
                     statusText(check.status)},
                    fonts.cell, QColor(), 4, tint(check.status));
    }
    const QString legend =
        QStringLiteral("○ 一致　△ 相違　◇ 局番号違い　× 読込不可（応答なし・"
                       "データ異常・ポート使用不可）　－ 未確認　！ 設定ファイル不良");
    const double legendHeight = sheets.wrappedHeight(legend, fonts.note, width);
    sheets.keep(legendHeight);
    sheets.wrapped(QRectF(0, sheets.y, width, legendHeight), legend, fonts.note);
    sheets.y += legendHeight + kGap * 2;

    sheets.keep(kSignatureHeight);
    const double boxWidth = (width - kGap) / 2;
    signatureBox(sheets, 0, boxWidth, QStringLiteral("技術者 署名"), record.engineer, fonts);
    signatureBox(sheets, boxWidth + kGap, boxWidth, QStringLiteral("お客様 確認署名"), QString(),
                 fonts);
    sheets.y += kSignatureHeight;
}

constexpr std::array<double, 4> kDifferenceColumns{0.14, 0.46, 0.20, 0.20};

void differenceHeader(Sheets &sheets, const Fonts &fonts)
{
    tableRow<4>(sheets, kDifferenceColumns,
                {QStringLiteral("ページ"), QStringLiteral("項目"),
                 QStringLiteral("設定ファイルの値"), QStringLiteral("VELTRAの値")},
                fonts.cellBold, kLabelBackground);
}

// One relay: its row, how it stood, what differs, and what the site log says of it.
void paintRelay(Sheets &sheets, const SiteRecord &record, const RelayCheck &check,
                const Fonts &fonts)
{
    const double width = sheets.width();
    const double valueWidth = width - kLabelWidth;
    const SiteRelay &relay = check.relay;
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("場所"), relay.place},
        {QStringLiteral("ポート"), relay.port},
        {QStringLiteral("局番号"),
         QStringLiteral("設定 %1　　読込 %2")
             .arg(messages::stationText(relay.station),
                  check.stationRead ? messages::stationText(*check.stationRead)
                                    : QStringLiteral("—"))},
        {QStringLiteral("状態"),
         statusText(check.status) + QStringLiteral("　") + messages::siteCheckDetail(check)},
        {QStringLiteral("設定ファイル"), relay.design},
        {QStringLiteral("フィンガープリント"), QStringLiteral("設定ファイル %1　　VELTRA %2")
                                                   .arg(shownFingerprint(designFingerprint(check)),
                                                        shownFingerprint(check.relayFingerprint))},
        {QStringLiteral("確認日時"), timeText(record.created)},
        {QStringLiteral("最後の書込"), logLine(record.log, relay.tag, siteoperation::kWrite)},
        {QStringLiteral("最後の照合"), logLine(record.log, relay.tag, siteoperation::kVerify)},
    };
    QList<double> heights;
    double whole = kHeadingHeight;
    for (const auto &[label, value] : rows) {
        heights << sheets.wrappedHeight(value, fonts.cell, valueWidth);
        whole += heights.constLast();
    }
    if (!check.differences.isEmpty())
        whole += kGap / 2 + kLineHeight + kRowHeight * (1 + check.differences.size());
    // A relay whole on one page where it fits on one.
    sheets.keep(std::min(whole, sheets.bottom()));

    const QRectF heading(0, sheets.y, width, kHeadingHeight);
    sheets.cell(heading, tint(check.status));
    sheets.fitted(heading.adjusted(0, 0, -width / 3, 0), QStringLiteral("名称　%1").arg(relay.tag),
                  fonts.heading);
    sheets.text(heading, statusText(check.status), fonts.heading,
                Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine);
    sheets.y += kHeadingHeight;
    for (qsizetype i = 0; i < heights.size(); ++i) {
        const double height = heights[i];
        sheets.keep(height);
        const QRectF label(0, sheets.y, kLabelWidth, height),
            value(kLabelWidth, sheets.y, valueWidth, height);
        sheets.cell(label, kLabelBackground);
        sheets.wrapped(label, rows[i].first, fonts.cellBold);
        sheets.cell(value);
        sheets.wrapped(value, rows[i].second, fonts.cell);
        sheets.y += height;
    }

    if (!check.differences.isEmpty()) {
        sheets.y += kGap / 2;
        // A page that goes on with the table names whose it is.
        const auto caption = [&](const QString &text) {
            sheets.text(QRectF(0, sheets.y, width, kLineHeight), text, fonts.cellBold);
            sheets.y += kLineHeight;
            differenceHeader(sheets, fonts);
        };
        sheets.keep(kLineHeight + kRowHeight * 2);
        caption(QStringLiteral("相違項目（%1 件）").arg(check.differences.size()));
        for (const ItemDifference &d : check.differences) {
            if (sheets.keep(kRowHeight))
                caption(QStringLiteral("名称 %1　相違項目（続き）").arg(relay.tag));
            tableRow<4>(
                sheets, kDifferenceColumns,
                {messages::pageName(d.page), rowLabel(pageKind(d.page), d.item), d.design, d.relay},
                fonts.cell);
        }
    }
    sheets.y += kGap * 1.5;
}

int paint(QPagedPaintDevice &device, QPainter *painter, int pageCount, const SiteRecord &record)
{
    const Fonts fonts;
    Sheets sheets(device, painter, pageCount,
                  QStringLiteral("VELTRA サイト記録　%1　%2")
                      .arg(QFileInfo(record.sitePath).fileName(), timeText(record.created)));
    paintSummary(sheets, record, fonts);
    if (!record.checks.isEmpty())
        sheets.newPage();
    for (const RelayCheck &check : record.checks)
        paintRelay(sheets, record, check, fonts);
    sheets.finish();
    return sheets.pages();
}

// A4 portrait; the wider left margin leaves room to punch and file it.
QPageLayout pageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 15, 15, 15),
                       QPageLayout::Millimeter);
}

} // namespace

FileProblem saveSiteRecordPdf(const SiteRecord &record, const QString &path)
{
    // Rendered in memory, then written whole or not at all.
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageLayout(pageLayout());
        writer.setTitle(
            QStringLiteral("VELTRA サイト記録 %1").arg(QFileInfo(record.sitePath).fileName()));
        writer.setCreator(QStringLiteral("VELTRA 設定ソフト " VELTRA_VERSION));
        const int pageCount = paint(writer, nullptr, 0, record);
        QPainter painter;
        if (!painter.begin(&writer))
            return FileProblem::Unusable;
        paint(writer, &painter, pageCount, record);
        if (!painter.end())
            return FileProblem::Unusable;
    }
    return saveWholeFile(path, pdf);
}

} // namespace veltra
