#include "dtimport.h"

#include "file/settingsfile.h"
#include "protocol.h"

#include <QStringView>

#include <iterator>
#include <span>

namespace veltra::sim {

using namespace protocol;

namespace {

// The values of each item as the relay knows them, in list order: the code of a value is its
// position. Reading a --settings file goes by these alone.
constexpr QStringView kFrequency[] = {u"50Hz", u"60Hz"};
constexpr QStringView kResetMode[] = {u"自動", u"手動"};
constexpr QStringView kPresence[] = {u"無し", u"有り"};

constexpr QStringView kWiring[] = {u"ﾛｯｸ", u"1φ2W", u"1φ3W", u"3φ3Du", u"3φ3Y", u"3φ3Dw"};
constexpr QStringView kInsulationSensitivity[] = {
    u"ﾛｯｸ",    u"30(mA)", u"35(mA)", u"40(mA)", u"45(mA)", u"50(mA)", u"55(mA)", u"60(mA)",
    u"65(mA)", u"70(mA)", u"75(mA)", u"80(mA)", u"85(mA)", u"90(mA)", u"95(mA)", u"100(mA)"};
constexpr QStringView kInsulationDelay[] = {u"5(秒)", u"10(秒)", u"20(秒)", u"30(秒)", u"40(秒)"};
constexpr QStringView kLeakageSensitivity[] = {u"ﾛｯｸ",    u"0.2(A)", u"0.3(A)", u"0.4(A)",
                                               u"0.5(A)", u"0.6(A)", u"0.7(A)", u"0.8(A)",
                                               u"0.9(A)", u"1.0(A)"};
constexpr QStringView kLeakageDelay[] = {u"0.3(秒)", u"0.4(秒)", u"0.5(秒)", u"0.6(秒)",
                                         u"0.7(秒)", u"0.8(秒)", u"0.9(秒)", u"1.0(秒)",
                                         u"1.3(秒)", u"1.5(秒)", u"1.8(秒)", u"2.0(秒)"};

struct FileItem
{
    QStringView heading;                 // the column heading, to name the item in messages
    std::span<const QStringView> values; // empty: the station number, "000".."255"
};

// Files head the columns of items 1 and 2 in screen order, so the column of item 1 (the
// insulation contact) reads 動作表示復帰; messages name a column as the file heads it.
constexpr FileItem kCommonFileItems[] = {
    {u"周波数", kFrequency},
    {u"動作表示復帰", kResetMode},
    {u"絶縁接点復帰", kResetMode},
    {u"漏電接点復帰", kResetMode},
    {u"試験トリップ", kPresence},
    {u"自己診断", kPresence},
    {u"局番号", {}},
};
constexpr FileItem kCircuitFileItems[] = {
    {u"電気方式", kWiring},          {u"絶縁感度", kInsulationSensitivity},
    {u"絶縁時限", kInsulationDelay}, {u"漏電感度", kLeakageSensitivity},
    {u"漏電時限", kLeakageDelay},
};
constexpr int kCommonItemCount = int(std::size(kCommonFileItems));

std::span<const FileItem> fileItems(int page)
{
    if (page == kCommonPage)
        return kCommonFileItems;
    return kCircuitFileItems;
}

std::optional<int> codeOfValue(const FileItem &item, const QString &text)
{
    if (item.values.empty()) {
        // Three decimal digits, 000..255: the number is the code.
        if (text.size() != 3)
            return std::nullopt;
        int number = 0;
        for (QChar c : text) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            number = number * 10 + (c.unicode() - u'0');
        }
        return number <= 255 ? std::optional<int>(number) : std::nullopt;
    }
    for (std::size_t code = 0; code < item.values.size(); ++code) {
        if (text == item.values[code])
            return int(code);
    }
    return std::nullopt;
}

// The first `count` fields after a line's label. A comma or an ASCII blank ends the label and
// each field, each separator exactly one; fields the line does not reach are empty, and what
// follows the last one is ignored.
QStringList lineFields(const QString &line, int count)
{
    const auto fieldEnd = [&line](qsizetype from) {
        qsizetype pos = from;
        while (pos < line.size() && line[pos] != u',' && line[pos] != u' ')
            ++pos;
        return pos;
    };
    QStringList fields;
    qsizetype start = fieldEnd(0) + 1;
    while (fields.size() < count) {
        if (start >= line.size()) {
            fields << QString();
            continue;
        }
        const qsizetype end = fieldEnd(start);
        fields << line.sliced(start, end - start);
        start = end + 1;
    }
    return fields;
}

QString lineName(int entry)
{
    return entry == 0 ? QStringLiteral("line 3 (common settings)")
                      : QStringLiteral("line %1 (circuit %2)").arg(entry + 4).arg(entry);
}

} // namespace

std::optional<RelaySettings> settingsFromLines(const QStringList &lines, QString *error)
{
    auto fail = [error](const QString &text) -> std::optional<RelaySettings> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (lines.size() != kPageCount)
        return fail(
            QStringLiteral("expected %1 data lines, got %2").arg(kPageCount).arg(lines.size()));

    std::array<std::array<int, kCommonItemCount>, kPageCount> codes{};
    for (int page = 0; page < kPageCount; ++page) {
        const std::span<const FileItem> items = fileItems(page);
        const QStringList fields = lineFields(lines[page], int(items.size()));
        for (std::size_t item = 0; item < items.size(); ++item) {
            const QString &text = fields[qsizetype(item)];
            const std::optional<int> code = codeOfValue(items[item], text);
            if (!code) {
                return fail(QStringLiteral("%1: \"%2\" is no value of %3")
                                .arg(lineName(page), text, items[item].heading.toString()));
            }
            codes[std::size_t(page)][item] = *code;
        }
    }

    RelaySettings s;
    const auto &common = codes[0];
    s.common = {.frequency = common[0],
                .resetBits = common[1] * 2 + common[2],
                .leakageReset = common[3],
                .tripOnTest = common[4],
                .selfDiagnosis = common[5],
                .station = common[6]};
    for (int n = 1; n <= kCircuitCount; ++n) {
        const auto &c = codes[std::size_t(n)];
        s.circuits[std::size_t(n - 1)] = {c[0], c[1], c[2], c[3], c[4]};
    }
    return s;
}

std::optional<RelaySettings> settingsFromFile(const QString &path, QString *error)
{
    const LoadedFile file = readSettingsFile(path);
    QString why;
    switch (file.status) {
    case LoadStatus::Ok:
        break;
    case LoadStatus::Unreadable:
        why = QStringLiteral("cannot read the file");
        break;
    case LoadStatus::NotSettingsFile:
        why = QStringLiteral("first line is not \"%1\"").arg(settingsFileMarker());
        break;
    case LoadStatus::TooShort:
        why = QStringLiteral("the file ends before line 12");
        break;
    }
    std::optional<RelaySettings> settings;
    if (why.isEmpty())
        settings = settingsFromLines(file.lines, &why);
    if (!settings && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return settings;
}

} // namespace veltra::sim
