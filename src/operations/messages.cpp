#include "operations/messages.h"

#include "link/devicelink.h"
#include "settings/items.h"

#include <QStringList>

namespace veltra::messages {

QString pageName(int page)
{
    return page == kCommonPage ? QStringLiteral("共通設定")
                               : QStringLiteral("回路%1").arg(fullWidthDigit(page));
}

QString writeProblem(WriteProblem problem)
{
    switch (problem) {
    case WriteProblem::NotChosen:
        return QStringLiteral("値が選ばれていません");
    case WriteProblem::Error:
        return QStringLiteral("ERROR は書き込めません");
    case WriteProblem::Empty:
        return QStringLiteral("値が空です");
    case WriteProblem::Unknown:
        return QStringLiteral("一覧にない値です");
    case WriteProblem::StationOutOfRange:
        break;
    }
    return QStringLiteral("局番号は 000～255 の数です");
}

namespace {

QString notTakenList(const QList<NotTakenItem> &items)
{
    QStringList lines;
    for (const NotTakenItem &item : items)
        lines << QStringLiteral("%1 %2: 設定 %3 / 現在 %4")
                     .arg(pageName(item.page), rowLabel(pageKind(item.page), item.item),
                          item.written, item.present);
    lines << notTaken();
    return lines.join(u'\n');
}

QString success(const Outcome &outcome)
{
    switch (outcome.command) {
    case CommandId::ReadPage:
        return pageRead(outcome.page);
    case CommandId::ReadAll:
        return allRead();
    case CommandId::WritePage:
    case CommandId::WriteAll:
        return outcome.verified ? verified() : written();
    case CommandId::Clear:
        return clearSent(outcome.operationValues);
    case CommandId::Load:
        return loaded();
    default:
        return {}; // copying and saving end without a word
    }
}

} // namespace

QString relaySearch(const Outcome &outcome)
{
    QStringList relays, relayPorts, unusable, silent;
    for (const Probe &probe : outcome.probes) {
        switch (probe.status) {
        case Probe::Status::Relay:
            relays << QStringLiteral("  %1　局番号 %2　%3")
                          .arg(probe.port, probe.station, probe.frequency);
            relayPorts << probe.port;
            break;
        case Probe::Status::Unusable:
            unusable << probe.port;
            break;
        case Probe::Status::Silent:
            silent << probe.port;
            break;
        }
    }
    QStringList lines;
    if (relays.isEmpty())
        lines << QStringLiteral(
            "リレーは見つかりませんでした。ケーブルとリレーの電源を確認してください。");
    else if (relays.size() == 1)
        lines << QStringLiteral("リレーが見つかりました。COMポートを %1 にしました。")
                     .arg(relayPorts.constFirst());
    else
        lines << QStringLiteral("%1 台のリレーが応答しました。使うCOMポートを選んでください。")
                     .arg(relays.size());
    if (!relays.isEmpty())
        lines << QString() << QStringLiteral("応答したリレー:") << relays;
    if (!unusable.isEmpty())
        lines << QString() << QStringLiteral("使用中か、開けないポート:")
              << QStringLiteral("  ") + unusable.join(QStringLiteral("、"));
    if (!silent.isEmpty())
        lines << QString() << QStringLiteral("応答がなかったポート:")
              << QStringLiteral("  ") + silent.join(QStringLiteral("、"));
    return lines.join(u'\n');
}

QString report(const Outcome &outcome)
{
    using Kind = Outcome::Kind;
    if (outcome.command == CommandId::FindRelays)
        return relaySearch(outcome);
    switch (outcome.kind) {
    case Kind::Success:
        return success(outcome);
    case Kind::NoReply:
    case Kind::WriteFailed: // the frame did not reach the line: the line is not there
        return DeviceLink::linkErrorMessage(kLinkNoReply);
    case Kind::DataError:
        return DeviceLink::linkErrorMessage(kLinkDataError);
    case Kind::PortUnusable:
        return DeviceLink::linkErrorMessage(kLinkPortUnusable);
    case Kind::InvalidSetValues:
        return outcome.command == CommandId::SaveEdited ? editedSaveRefused(outcome.problems)
                                                        : invalidSetValues();
    case Kind::InvalidPresentValues:
        return outcome.command == CommandId::Save ? saveRefused() : invalidPresentValues();
    case Kind::NotSettingsFile:
        return notSettingsFile();
    case Kind::FileUnreadable:
        return unreadable();
    case Kind::FileUnwritable:
        return saveFailed();
    case Kind::NotTaken:
        return notTakenList(outcome.notTaken);
    case Kind::NothingToClear:
        return nothingToClear();
    case Kind::FileTooShort:
    case Kind::Declined:
        break;
    }
    return {};
}

QString invalidSetValues()
{
    return QStringLiteral(
        "設定値が読み込まれていないか、正常値ではありません。再設定してください。");
}

QString invalidPresentValues()
{
    return QStringLiteral(
        "現在値が読み込まれていないか、正常値ではありません。再読み込みしてください。");
}

QString allRead()
{
    return QStringLiteral("設定値の読み込みが終了しました。");
}

QString pageRead(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定値の読み込みが終了しました。");
    return QStringLiteral("回路%1設定値の読み込みが終了しました。").arg(fullWidthDigit(page));
}

QString written()
{
    return QStringLiteral("設定値の書き込みが終了しました。");
}

QString verified()
{
    return QStringLiteral("設定値の書き込みと照合が終了しました。");
}

QString notTaken()
{
    return QStringLiteral("設定値が反映されていない項目があります。");
}

QString clearSent(bool operationValues)
{
    return operationValues ? QStringLiteral("動作値のクリアを送信しました。")
                           : QStringLiteral("最大値のクリアを送信しました。");
}

QString nothingToClear()
{
    return QStringLiteral("クリアするデータを選択してください。");
}

QString saveRefused()
{
    return QStringLiteral(
        "VELTRAの現在値が読み込まれていないか、正常値ではありません。保存を中止します。");
}

QString saveFailed()
{
    return QStringLiteral("設定値を保存できませんでした。");
}

QString editedSaveRefused(const QList<ValueProblem> &problems)
{
    constexpr qsizetype kListed = 10;
    QStringList lines{QStringLiteral("書き込みできない設定値があるため、保存しませんでした。"),
                      QString()};
    for (const ValueProblem &problem : problems.first(std::min(problems.size(), kListed)))
        lines << QStringLiteral("%1 %2 \"%3\": %4")
                     .arg(pageName(problem.page), rowLabel(pageKind(problem.page), problem.item),
                          problem.text, writeProblem(problem.problem));
    if (problems.size() > kListed)
        lines << QStringLiteral("ほか %1 件").arg(problems.size() - kListed);
    return lines.join(u'\n');
}

QString notSettingsFile()
{
    return QStringLiteral("VELTRA設定ファイルではありません。読み込みを終了します。");
}

QString unreadable()
{
    return QStringLiteral("設定ファイルを読み込めませんでした。");
}

QString loaded()
{
    return QStringLiteral("設定値が読み込まれました。");
}

} // namespace veltra::messages
