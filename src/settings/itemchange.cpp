#include "settings/itemchange.h"

#include "settings/encode.h"
#include "settings/items.h"

#include <QRegularExpression>

namespace veltra {

namespace {

// The heading that names item `item` in a settings file: headings follow screen order.
QString shortName(PageKind kind, int item)
{
    for (int row = 0; row < itemCount(kind); ++row)
        if (itemAtScreenRow(kind, row) == item)
            return fileColumn(kind, row);
    return {};
}

} // namespace

int itemOfLabel(int page, const QString &label)
{
    if (!isSettingsPage(page))
        return -1;
    const PageKind kind = pageKind(page);
    for (int item = 0; item < itemCount(kind); ++item)
        if (rowLabel(kind, item) == label || shortName(kind, item) == label)
            return item;
    bool isNumber = false;
    const int row = label.toInt(&isNumber);
    return isNumber && row >= 1 && row <= itemCount(kind) ? itemAtScreenRow(kind, row - 1) : -1;
}

QString permittedValues(int page, int item)
{
    const PageKind kind = pageKind(page);
    if (page == kCommonPage && item == kStationItem)
        return QStringLiteral("000…%1").arg(kStationMax);
    // What a write takes, beyond the list where the write table goes on (2.0(A)).
    QStringList values;
    for (int code = 0; const auto text = writeText(kind, item, code); ++code)
        values << *text;
    // Numbers with one unit in even steps make a range; the rest follow it.
    static const QRegularExpression numbered(QStringLiteral("^(\\d+(?:\\.\\d+)?)(\\D.*)$"));
    QStringList numbers, others;
    QList<double> amounts;
    QString unit;
    for (const QString &value : values) {
        const QRegularExpressionMatch m = numbered.match(value);
        if (m.hasMatch() && (numbers.isEmpty() || m.captured(2) == unit)) {
            unit = m.captured(2);
            numbers << value;
            amounts << m.captured(1).toDouble();
        } else {
            others << value;
        }
    }
    bool even = amounts.size() >= 4;
    for (qsizetype k = 2; even && k < amounts.size(); ++k)
        even = qAbs((amounts[k] - amounts[k - 1]) - (amounts[1] - amounts[0])) < 1e-9;
    if (!even)
        return values.join(QStringLiteral(", "));
    const double step = amounts[1] - amounts[0];
    return (QStringList{QStringLiteral("%1…%2").arg(numbers.constFirst(), numbers.constLast()),
                        QStringLiteral("%1 刻み").arg(QString::number(step, 'g', 3))} +
            others)
        .join(QStringLiteral(", "));
}

ItemChange ItemChange::parse(const QString &text)
{
    ItemChange change;
    const qsizetype colon = text.indexOf(u':');
    const qsizetype equals = text.indexOf(u'=', colon + 1);
    if (colon < 0 || equals < 0)
        return change;
    change.pageText = text.first(colon);
    change.label = text.sliced(colon + 1, equals - colon - 1);
    change.value = text.sliced(equals + 1);
    bool isNumber = false;
    const int page = change.pageText.toInt(&isNumber);
    change.item = isNumber ? itemOfLabel(page, change.label) : -1;
    change.page = change.item < 0 ? -1 : page;
    change.parsed = change.item < 0 ? Parsed::NoSuchItem : Parsed::Ok;
    return change;
}

} // namespace veltra
