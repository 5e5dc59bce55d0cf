#include "relaymodel.h"

#include "dtimport.h"
#include "protocol.h"

#include <iterator>

namespace veltra::sim {

using namespace protocol;

namespace {

constexpr qsizetype kReadRequestLength = 12;
constexpr qsizetype kWriteFrameLength = 17;
constexpr qsizetype kDataLength = 9;
constexpr qsizetype kDataStart = 5; // index of the first data character of a write frame
constexpr int kLeakageSensitivityMaxCode = 19;

QString printable(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return QStringLiteral("'%1'").arg(QLatin1Char(c));
    return QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
}

// What a write frame may carry at each data position.
enum class CharRule { Code, HexDigit, Zero };

struct DataRule
{
    CharRule rule;
    int maxCode; // for Code: the highest code, sent as '0' + code
    const char *what;
};

using DataRules = std::array<DataRule, kDataLength>;

constexpr DataRules kCommonRules{{
    {CharRule::Code, 1, "frequency"},
    {CharRule::Code, 3, "reset modes"},
    {CharRule::Code, 1, "leakage contact reset"},
    {CharRule::Code, 1, "trip on test"},
    {CharRule::Code, 1, "self-diagnosis"},
    {CharRule::HexDigit, 0, "station number"},
    {CharRule::HexDigit, 0, "station number"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
}};

constexpr DataRules kCircuitRules{{
    {CharRule::Code, 5, "wiring system"},
    {CharRule::Code, 15, "insulation sensitivity"},
    {CharRule::Code, 4, "insulation delay"},
    {CharRule::Code, kLeakageSensitivityMaxCode, "leakage sensitivity"},
    {CharRule::Code, 11, "leakage delay"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
}};

constexpr DataRules kClearRules{{
    {CharRule::Code, 1, "the operation value choice"},
    {CharRule::Code, 1, "the maximum value choice"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
    {CharRule::Zero, 0, "a constant"},
}};

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool fitsRule(char c, const DataRule &rule)
{
    switch (rule.rule) {
    case CharRule::Code:
        return c >= '0' && c <= '0' + rule.maxCode;
    case CharRule::HexDigit:
        return hexDigitValue(c) >= 0;
    case CharRule::Zero:
        return c == '0';
    }
    return false;
}

QString ruleText(const DataRule &rule)
{
    switch (rule.rule) {
    case CharRule::Code:
        return QStringLiteral("%1 (codes 0..%2)").arg(QLatin1String(rule.what)).arg(rule.maxCode);
    case CharRule::HexDigit:
        return QStringLiteral("%1 (an upper-case hex digit)").arg(QLatin1String(rule.what));
    case CharRule::Zero:
        return QStringLiteral("%1 (always '0')").arg(QLatin1String(rule.what));
    }
    return {};
}

QByteArray twoDecimalDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0');
}

FrameResult rejected(FrameResult result, const QString &reason)
{
    result.kind = FrameKind::Rejected;
    result.accepted = false;
    result.reason = reason;
    result.reply.clear();
    return result;
}

} // namespace

RelaySettings defaultSettings()
{
    RelaySettings s;
    s.common = {.frequency = 1,
                .resetBits = 2,
                .leakageReset = 0,
                .tripOnTest = 1,
                .selfDiagnosis = 1,
                .station = 12};
    // wiring, insulation sensitivity, insulation delay, leakage sensitivity, leakage delay
    s.circuits = {{
        {2, 1, 1, 1, 0},
        {1, 3, 0, 2, 1},
        {5, 15, 4, 9, 11},
        {3, 5, 2, 4, 3},
        {4, 8, 3, 6, 7},
        {0, 0, 0, 0, 0},
        {2, 10, 1, 3, 5},
        {1, 12, 2, 5, 9},
    }};
    return s;
}

StoredValues defaultStoredValues()
{
    StoredValues v;
    v.operationValues = {42, 0, 65, 31, 120, 0, 38, 55};
    v.maximumValues = {58, 12, 97, 44, 180, 0, 61, 73};
    return v;
}

QByteArray replyHeader(int page)
{
    return QByteArray(kStationAddress.data(), kStationAddress.size()) + twoDecimalDigits(page);
}

QByteArray replyData(const RelaySettings &settings, int page)
{
    QByteArray data;
    if (page == kCommonPage) {
        const CommonCodes &c = settings.common;
        data.append(hexByte(c.frequency))
            .append(hexByte(c.resetBits))
            .append(hexByte(c.leakageReset))
            .append(hexByte(c.tripOnTest))
            .append(hexByte(c.selfDiagnosis))
            .append(hexByte(c.station));
    } else if (page >= 1 && page <= kCircuitCount) {
        // Wiring and insulation delay travel as decimal numbers, the others as hex codes.
        const CircuitCodes &c = settings.circuits[std::size_t(page - 1)];
        data.append(twoDecimalDigits(c.wiring))
            .append(hexByte(c.insulationSensitivity))
            .append(twoDecimalDigits(c.insulationDelay))
            .append(hexByte(c.leakageSensitivity))
            .append(hexByte(c.leakageDelay))
            .append("00");
    }
    return data;
}

QByteArray replyFrame(QByteArrayView header, QByteArrayView data)
{
    QByteArray covered;
    covered.append(header).append(data).append(kEtx);
    QByteArray frame;
    frame.append(kStx).append(covered).append(checksum(covered)).append(kCr);
    return frame;
}

RelayModel::RelayModel() : RelayModel(defaultSettings()) {}

RelayModel::RelayModel(const RelaySettings &settings)
    : m_settings(settings), m_stored(defaultStoredValues())
{}

bool RelayModel::loadSettingsFile(const QString &path, QString *error)
{
    const std::optional<RelaySettings> settings = settingsFromFile(path, error);
    if (!settings)
        return false;
    m_settings = *settings;
    return true;
}

QByteArray RelayModel::replyFrame(int page) const
{
    return sim::replyFrame(replyHeader(page), replyData(m_settings, page));
}

FrameResult RelayModel::handleFrame(QByteArrayView frame)
{
    FrameResult result;
    if (frame.size() >= 5)
        result.command = frame.sliced(3, 2).toByteArray();
    if (frame.isEmpty() || frame.front() != kEnq)
        return rejected(result, QStringLiteral("does not start with ENQ"));
    if (frame.back() != kCr) {
        return rejected(result, QStringLiteral("no CR within %1 bytes").arg(frame.size()));
    }
    if (result.command == "AE")
        return handleRead(frame, result);
    if (result.command.size() == 2 && result.command[0] == 'B' && result.command[1] >= '0' &&
        result.command[1] <= '9') {
        result.page = result.command[1] - '0';
        return handleWrite(frame, result);
    }
    return rejected(result, QStringLiteral("unknown command"));
}

FrameResult RelayModel::handleRead(QByteArrayView frame, FrameResult result) const
{
    if (frame.size() != kReadRequestLength) {
        return rejected(result, QStringLiteral("read request of %1 bytes, not %2")
                                    .arg(frame.size())
                                    .arg(kReadRequestLength));
    }
    const QByteArrayView body = frame.sliced(1, 8);
    const QByteArrayView pageField = body.sliced(6, 2);
    if (pageField[0] == '0' && pageField[1] >= '0' && pageField[1] <= '8')
        result.page = pageField[1] - '0';
    if (checksum(body) != frame.sliced(9, 2))
        return rejected(result, QStringLiteral("wrong checksum"));
    if (body.first(2) != kStationAddress)
        return rejected(result, QStringLiteral("not addressed to FF"));
    if (body.sliced(4, 2) != "00")
        return rejected(result, QStringLiteral("characters 5-6 are not \"00\""));
    if (result.page < 0)
        return rejected(result, QStringLiteral("no such page"));
    result.kind = FrameKind::Read;
    result.accepted = true;
    result.reason = QStringLiteral("read page %1").arg(result.page);
    result.reply = replyFrame(result.page);
    return result;
}

FrameResult RelayModel::handleWrite(QByteArrayView frame, FrameResult result)
{
    if (frame.size() != kWriteFrameLength) {
        return rejected(result, QStringLiteral("write frame of %1 bytes, not %2")
                                    .arg(frame.size())
                                    .arg(kWriteFrameLength));
    }
    const QByteArrayView body = frame.sliced(1, 13);
    if (checksum(body) != frame.sliced(14, 2))
        return rejected(result, QStringLiteral("wrong checksum"));
    if (body.first(2) != kStationAddress)
        return rejected(result, QStringLiteral("not addressed to FF"));

    const bool clear = result.page == kClearPage;
    const DataRules &rules =
        clear ? kClearRules : (result.page == kCommonPage ? kCommonRules : kCircuitRules);
    const QByteArrayView data = frame.sliced(kDataStart, kDataLength);
    for (qsizetype i = 0; i < kDataLength; ++i) {
        const DataRule &rule = rules[std::size_t(i)];
        if (!fitsRule(data[i], rule)) {
            return rejected(result, QStringLiteral("data character %1 %2 is no code for %3")
                                        .arg(i + 1)
                                        .arg(printable(data[i]), ruleText(rule)));
        }
    }
    auto code = [&data](int position) { return data[position - 1] - '0'; };

    result.accepted = true;
    if (clear) {
        result.kind = FrameKind::Clear;
        QStringList cleared;
        if (code(1) == 1) {
            m_stored.operationValues.fill(0);
            ++m_stored.operationClears;
            cleared << QStringLiteral("operation values");
        }
        if (code(2) == 1) {
            m_stored.maximumValues.fill(0);
            ++m_stored.maximumClears;
            cleared << QStringLiteral("maximum values");
        }
        result.reason =
            cleared.isEmpty()
                ? QStringLiteral("clear frame selects nothing")
                : QStringLiteral("cleared %1").arg(cleared.join(QStringLiteral(" and ")));
        return result;
    }

    result.kind = FrameKind::Write;
    const RelaySettings before = m_settings;
    if (result.page == kCommonPage) {
        m_settings.common = {.frequency = code(1),
                             .resetBits = code(2),
                             .leakageReset = code(3),
                             .tripOnTest = code(4),
                             .selfDiagnosis = code(5),
                             .station = hexDigitValue(data[5]) * 16 + hexDigitValue(data[6])};
        result.reason = QStringLiteral("common settings written");
    } else {
        m_settings.circuits[std::size_t(result.page - 1)] = {code(1), code(2), code(3), code(4),
                                                             code(5)};
        result.reason = QStringLiteral("circuit %1 settings written").arg(result.page);
    }
    for (const auto &[page, item] : m_ignoredItems) {
        if (page != result.page)
            continue;
        keepItem(before, page, item);
        result.reason += QStringLiteral(", item %1 ignored").arg(item);
    }
    return result;
}

void RelayModel::ignoreWrittenItem(int page, int item)
{
    m_ignoredItems.append({page, item});
}

void RelayModel::keepItem(const RelaySettings &before, int page, int item)
{
    if (page == kCommonPage) {
        CommonCodes &now = m_settings.common;
        const CommonCodes &old = before.common;
        switch (item) {
        case 0:
            now.frequency = old.frequency;
            break;
        case 1: // bit 1 of the reset bits
            now.resetBits = (now.resetBits & 1) | (old.resetBits & 2);
            break;
        case 2: // bit 0
            now.resetBits = (now.resetBits & 2) | (old.resetBits & 1);
            break;
        case 3:
            now.leakageReset = old.leakageReset;
            break;
        case 4:
            now.tripOnTest = old.tripOnTest;
            break;
        case 5:
            now.selfDiagnosis = old.selfDiagnosis;
            break;
        case 6:
            now.station = old.station;
            break;
        default:
            break;
        }
        return;
    }
    CircuitCodes &now = m_settings.circuits[std::size_t(page - 1)];
    const CircuitCodes &old = before.circuits[std::size_t(page - 1)];
    int CircuitCodes::*const fields[] = {
        &CircuitCodes::wiring, &CircuitCodes::insulationSensitivity, &CircuitCodes::insulationDelay,
        &CircuitCodes::leakageSensitivity, &CircuitCodes::leakageDelay};
    if (item >= 0 && item < int(std::size(fields)))
        now.*fields[item] = old.*fields[item];
}

} // namespace veltra::sim
