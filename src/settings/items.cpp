#include "settings/items.h"

#include <array>
#include <span>

namespace veltra {
namespace {

struct ItemDef
{
    const char *rowLabel;
    const char *fileColumn;
    std::span<const char *const> values; // empty for the station number
};

constexpr const char *kFrequency[] = {"50Hz", "60Hz"};
constexpr const char *kResetMode[] = {"自動", "手動"};
constexpr const char *kPresence[] = {"無し", "有り"};

constexpr const char *kWiring[] = {"ﾛｯｸ", "1φ2W", "1φ3W", "3φ3Du", "3φ3Y", "3φ3Dw"};
constexpr const char *kInsulationSensitivity[] = {
    "ﾛｯｸ",    "30(mA)", "35(mA)", "40(mA)", "45(mA)", "50(mA)", "55(mA)", "60(mA)",
    "65(mA)", "70(mA)", "75(mA)", "80(mA)", "85(mA)", "90(mA)", "95(mA)", "100(mA)"};
constexpr const char *kInsulationDelay[] = {"5(秒)", "10(秒)", "20(秒)", "30(秒)", "40(秒)"};
constexpr const char *kLeakageSensitivity[] = {"ﾛｯｸ",    "0.2(A)", "0.3(A)", "0.4(A)", "0.5(A)",
                                               "0.6(A)", "0.7(A)", "0.8(A)", "0.9(A)", "1.0(A)"};
constexpr const char *kLeakageDelay[] = {"0.3(秒)", "0.4(秒)", "0.5(秒)", "0.6(秒)",
                                         "0.7(秒)", "0.8(秒)", "0.9(秒)", "1.0(秒)",
                                         "1.3(秒)", "1.5(秒)", "1.8(秒)", "2.0(秒)"};

// The file headings name items 1 and 2 in screen order, the values follow item order;
// files already written rely on exactly this pairing.
constexpr std::array<ItemDef, kCommonItemCount> kCommonItems{{
    {"監視電路周波数", "周波数", kFrequency},
    {"絶縁監視接点復帰方式", "動作表示復帰", kResetMode},
    {"動作表示LED復帰方式", "絶縁接点復帰", kResetMode},
    {"漏電監視接点復帰方式", "漏電接点復帰", kResetMode},
    {"テスト時トリップ 有/無", "試験トリップ", kPresence},
    {"自己診断 有/無", "自己診断", kPresence},
    {"伝送局番号設定", "局番号", {}},
}};

constexpr std::array<ItemDef, kCircuitItemCount> kCircuitItems{{
    {"電気方式の設定", "電気方式", kWiring},
    {"絶縁監視動作感度設定", "絶縁感度", kInsulationSensitivity},
    {"絶縁監視時限設定", "絶縁時限", kInsulationDelay},
    {"漏電監視動作感度設定", "漏電感度", kLeakageSensitivity},
    {"漏電監視時限設定", "漏電時限", kLeakageDelay},
}};

constexpr int kStationListSize = 128; // the list offers 001..128; the relay may report 0..255

const ItemDef *itemDef(PageKind kind, int item)
{
    if (kind == PageKind::Common)
        return item >= 0 && item < kCommonItemCount ? &kCommonItems[item] : nullptr;
    return item >= 0 && item < kCircuitItemCount ? &kCircuitItems[item] : nullptr;
}

bool isStation(PageKind kind, int item)
{
    return kind == PageKind::Common && item == kStationItem;
}

QString stationText(int number)
{
    return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
}

} // namespace

bool isSettingsPage(int page)
{
    return page >= 0 && page < kPageCount;
}

PageKind pageKind(int page)
{
    return page == kCommonPage ? PageKind::Common : PageKind::Circuit;
}

int itemCount(PageKind kind)
{
    return kind == PageKind::Common ? kCommonItemCount : kCircuitItemCount;
}

int itemCount(int page)
{
    return isSettingsPage(page) ? itemCount(pageKind(page)) : 0;
}

QString notLoadedText()
{
    return QStringLiteral("* * * *");
}

QString errorText()
{
    return QStringLiteral("ERROR");
}

QString fullWidthDigit(int digit)
{
    return QString(QChar(char16_t(u'０' + digit)));
}

QString rowLabel(PageKind kind, int item)
{
    const ItemDef *def = itemDef(kind, item);
    return def ? QString::fromUtf8(def->rowLabel) : QString();
}

QString fileColumn(PageKind kind, int item)
{
    const ItemDef *def = itemDef(kind, item);
    return def ? QString::fromUtf8(def->fileColumn) : QString();
}

int itemAtScreenRow(PageKind kind, int row)
{
    if (kind == PageKind::Common && (row == 1 || row == 2))
        return 3 - row;
    return row;
}

QStringList valueList(PageKind kind, int item)
{
    QStringList list;
    if (isStation(kind, item)) {
        for (int n = 1; n <= kStationListSize; ++n)
            list << stationText(n);
        return list;
    }
    if (const ItemDef *def = itemDef(kind, item)) {
        for (const char *value : def->values)
            list << QString::fromUtf8(value);
    }
    return list;
}

std::optional<int> codeOfText(PageKind kind, int item, const QString &text)
{
    if (isStation(kind, item)) {
        // Three decimal digits, as the relay's numbers are shown.
        return text.size() == 3 ? stationNumberValue(text) : std::nullopt;
    }
    const ItemDef *def = itemDef(kind, item);
    if (!def)
        return std::nullopt;
    for (std::size_t code = 0; code < def->values.size(); ++code) {
        if (text == QString::fromUtf8(def->values[code]))
            return int(code);
    }
    return std::nullopt;
}

std::optional<int> stationNumberValue(const QString &text)
{
    // Eight digits cannot overflow; more is no number a relay knows anyway.
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > kStationMax)
        return std::nullopt;
    return value;
}

QString textOfCode(PageKind kind, int item, int code)
{
    if (isStation(kind, item))
        return code >= 0 && code <= kStationMax ? stationText(code) : errorText();
    const ItemDef *def = itemDef(kind, item);
    if (!def || code < 0 || std::size_t(code) >= def->values.size())
        return errorText();
    return QString::fromUtf8(def->values[std::size_t(code)]);
}

} // namespace veltra
