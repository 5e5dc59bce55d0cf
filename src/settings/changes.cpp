#include "settings/changes.h"

#include "settings/items.h"

#include <optional>

namespace veltra {
namespace {

bool isStation(int page, int item)
{
    return page == kCommonPage && item == kStationItem;
}

// The value a text stands for, where it stands for one: "12" and "012" are one station.
std::optional<int> valueOf(int page, int item, const QString &text)
{
    if (isStation(page, item))
        return stationNumberValue(text);
    return codeOfText(pageKind(page), item, text);
}

} // namespace

bool isWritableValue(int page, int item, const QString &setText)
{
    return isSettingsPage(page) && item >= 0 && item < itemCount(page) &&
           valueOf(page, item, setText).has_value();
}

FieldState fieldState(int page, int item, const QString &presentText, const QString &setText)
{
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return {};
    if (setText == notLoadedText() || setText == errorText())
        return {FieldMark::Warning,
                QStringLiteral("\"%1\" では書き込みできません。値を選んでください。").arg(setText)};
    if (!isWritableValue(page, item, setText)) {
        if (isStation(page, item))
            return {FieldMark::Warning,
                    QStringLiteral("局番号は 000～255 の数です。\"%1\" では書き込みできません。")
                        .arg(setText)};
        return {FieldMark::Warning,
                QStringLiteral("\"%1\" は一覧にない値です。書込では \"E\" として送られます。")
                    .arg(setText)};
    }
    if (presentText == notLoadedText() || sameValue(page, item, presentText, setText))
        return {};
    return {FieldMark::Pending,
            QStringLiteral("書込で %1 → %2 に変わります。").arg(presentText, setText)};
}

bool sameValue(int page, int item, const QString &a, const QString &b)
{
    if (isSettingsPage(page) && item >= 0 && item < itemCount(page)) {
        const std::optional<int> first = valueOf(page, item, a);
        const std::optional<int> second = valueOf(page, item, b);
        if (first && second)
            return *first == *second;
    }
    return a == b;
}

} // namespace veltra
