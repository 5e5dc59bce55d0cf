#include "settings/encode.h"

#include "link/frames.h"
#include "settings/items.h"
#include "settings/settingsfields.h"

namespace veltra {
namespace {

constexpr char kUnknownCode = 'E';

// The relay takes leakage sensitivities up to 2.0 A although the list stops at 1.0 A;
// a text beyond the list, typed or copied, is still sent by this table.
const QStringList &leakageSensitivityWrite()
{
    static const QStringList texts{
        QStringLiteral("ﾛｯｸ"),    QStringLiteral("0.2(A)"), QStringLiteral("0.3(A)"),
        QStringLiteral("0.4(A)"), QStringLiteral("0.5(A)"), QStringLiteral("0.6(A)"),
        QStringLiteral("0.7(A)"), QStringLiteral("0.8(A)"), QStringLiteral("0.9(A)"),
        QStringLiteral("1.0(A)"), QStringLiteral("1.1(A)"), QStringLiteral("1.2(A)"),
        QStringLiteral("1.3(A)"), QStringLiteral("1.4(A)"), QStringLiteral("1.5(A)"),
        QStringLiteral("1.6(A)"), QStringLiteral("1.7(A)"), QStringLiteral("1.8(A)"),
        QStringLiteral("1.9(A)"), QStringLiteral("2.0(A)")};
    return texts;
}
constexpr int kLeakageSensitivityItem = 3;

char codeCharacter(int code)
{
    return char('0' + code);
}

char listCode(PageKind kind, int item, const QString &text)
{
    const auto code = writeCode(kind, item, text);
    return code ? codeCharacter(*code) : kUnknownCode;
}

QByteArray commonData(const SettingsFields &fields)
{
    auto text = [&](int item) { return fields.setValue(kCommonPage, item); };
    QByteArray data;
    data.append(listCode(PageKind::Common, 0, text(0)));
    // Items 1 and 2 share one character: item 1 is bit value 2, item 2 bit value 1.
    // mutate: equivalent: const 1 to 2 #1: items 1, 2 and 3 of the common page take one list of
    // values
    const auto insulationReset = writeCode(PageKind::Common, 1, text(1));
    // mutate: equivalent: const 2 to 3 #1, const 2 to 1 #1: items 1, 2 and 3 of the common page
    // take one list of values
    const auto ledReset = writeCode(PageKind::Common, 2, text(2));
    data.append(insulationReset && ledReset ? codeCharacter(*insulationReset * 2 + *ledReset)
                                            : kUnknownCode);
    for (int item = 3; item <= 5; ++item)
        data.append(listCode(PageKind::Common, item, text(item)));
    const auto station = writeCode(PageKind::Common, kStationItem, text(kStationItem));
    data.append(station ? hexByte(*station) : QByteArray(2, kUnknownCode));
    data.append("00");
    return data;
}

QByteArray circuitData(int page, const SettingsFields &fields)
{
    QByteArray data;
    for (int k = 0; k < kCircuitItemCount; ++k)
        data.append(listCode(PageKind::Circuit, k, fields.setValue(page, k)));
    data.append("0000");
    return data;
}

QByteArray clearData(const SettingsFields &fields)
{
    QByteArray data;
    data.append(fields.clearOptionSelected(0) ? '1' : '0');
    data.append(fields.clearOptionSelected(1) ? '1' : '0');
    data.append("0000000");
    return data;
}

} // namespace

std::optional<int> writeCode(PageKind kind, int item, const QString &text)
{
    if (kind == PageKind::Common && item == kStationItem)
        return stationNumberValue(text);
    if (kind == PageKind::Circuit && item == kLeakageSensitivityItem) {
        const qsizetype code = leakageSensitivityWrite().indexOf(text);
        return code < 0 ? std::nullopt : std::optional<int>(int(code));
    }
    return codeOfText(kind, item, text);
}

std::optional<QString> writeText(PageKind kind, int item, int code)
{
    if (kind == PageKind::Circuit && item == kLeakageSensitivityItem) {
        const QString text = leakageSensitivityWrite().value(code); // empty beyond the table
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    }
    const QString text = textOfCode(kind, item, code);
    return text == errorText() ? std::nullopt : std::optional<QString>(text);
}

QByteArray writeData(int page, const SettingsFields &fields)
{
    if (page == kCommonPage)
        return commonData(fields);
    if (page == kClearPage)
        return clearData(fields);
    return isSettingsPage(page) ? circuitData(page, fields) : QByteArray();
}

QByteArray BuildWriteFrame(int page, const SettingsFields &fields)
{
    if (page < kCommonPage || page > kClearPage)
        return {};
    return writeFrame(page, writeData(page, fields));
}

} // namespace veltra
