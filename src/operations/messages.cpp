#include "operations/messages.h"

#include <QTime>

#include "link/devicelink.h"
#include "settings/items.h"
#include "site/sitelog.h"

#include <QStringList>

#include <algorithm>

namespace veltra::messages {

QString stationText(int station)
{
    return QStringLiteral("%1").arg(station, 3, 10, QLatin1Char('0'));
}

QString pageName(int page)
{
    return page == kCommonPage ? QStringLiteral("共通設定")
                               : QStringLiteral("回路%1").arg(fullWidthDigit(page));
}

QString writeProblem(WriteProblem problem)
{
    // The one table of reasons: lists, the command line and the marks' tooltips say these.
    switch (problem) {
    case WriteProblem::NotChosen:
        return QStringLiteral("値が選ばれていません");
    case WriteProblem::Error:
        return QStringLiteral("ERROR は値ではありません");
    case WriteProblem::Empty:
        return QStringLiteral("空欄です");
    case WriteProblem::Unknown:
        return QStringLiteral("一覧にない値です");
    case WriteProblem::StationOutOfRange:
        break;
    }
    return QStringLiteral("局番号は 000～255 の数です");
}

QString fieldExplanation(const FieldState &state, const QString &present, const QString &set)
{
    switch (state.mark) {
    case FieldMark::None:
        break;
    case FieldMark::Pending:
        return QStringLiteral("書込で %1 → %2 に変わります。").arg(present, set);
    case FieldMark::Warning:
        return writeProblem(state.problem.value_or(WriteProblem::Unknown)) +
               QStringLiteral("。書き込みできません。");
    }
    return {};
}

QString writeQuestion(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定を書き換えます。よろしいですか？");
    return QStringLiteral("回路%1の設定を書き換えます。よろしいですか？").arg(fullWidthDigit(page));
}

QString writeAllQuestion()
{
    return QStringLiteral(
        "VELTRAの共通設定とすべての回路の設定を一度に書き換えます。よろしいですか？");
}

QString clearQuestion(bool operationValues)
{
    return operationValues ? QStringLiteral("動作値をクリアします。よろしいですか？")
                           : QStringLiteral("最大値をクリアします。よろしいですか？");
}

namespace {

QString expectedStationWords(std::optional<int> station)
{
    return station ? QStringLiteral("局番号 %1").arg(stationText(*station))
                   : QStringLiteral("局番号未確認");
}

} // namespace

QString terminalWriteQuestion(const QString &device, std::optional<int> station, int pages)
{
    return QStringLiteral("%1 のVELTRA (%2) に %3 ページを書き込みます。よろしいですか？ [y/N] ")
        .arg(device, expectedStationWords(station))
        .arg(pages);
}

QString siteWriteQuestion(const QList<RelayCheck> &relays)
{
    QString text;
    for (const RelayCheck &relay : relays)
        text += QStringLiteral("  %1  %2  局番号 %3  変更 %4 項目\n")
                    .arg(relay.relay.tag, relay.relay.port, stationText(relay.relay.station))
                    .arg(relay.differences.size());
    return text + QStringLiteral("以上 %1 台のVELTRAに設計ファイルの値を書き込みます"
                                 "（書込前の値は履歴として保存します）。よろしいですか？")
                      .arg(relays.size());
}

QString siteStatusText(RelayCheck::Status status)
{
    using Status = RelayCheck::Status;
    switch (status) {
    case Status::Match:
        return QStringLiteral("一致");
    case Status::Differs:
        return QStringLiteral("相違あり");
    case Status::WrongStation:
        return QStringLiteral("局番号違い");
    case Status::NoReply:
        return QStringLiteral("応答なし");
    case Status::DataError:
        return QStringLiteral("データ異常");
    case Status::PortUnusable:
        return QStringLiteral("ポート使用不可");
    case Status::NotReached:
        return QStringLiteral("未確認");
    case Status::DesignInvalid:
        return QStringLiteral("設定ファイル不良");
    }
    Q_UNREACHABLE();
}

QString siteStatusMark(RelayCheck::Status status)
{
    using Status = RelayCheck::Status;
    switch (status) {
    case Status::Match:
        return QStringLiteral("○");
    case Status::Differs:
        return QStringLiteral("△");
    case Status::WrongStation:
        return QStringLiteral("◇");
    case Status::NoReply:
    case Status::DataError:
    case Status::PortUnusable:
        return QStringLiteral("×");
    case Status::NotReached:
        return QStringLiteral("－");
    case Status::DesignInvalid:
        return QStringLiteral("！");
    }
    Q_UNREACHABLE();
}

QString siteCheckDetail(const RelayCheck &check)
{
    using Status = RelayCheck::Status;
    switch (check.status) {
    case Status::Match:
        return QStringLiteral("全項目が設定ファイルのとおりです。");
    case Status::Differs:
        return QStringLiteral("%1 項目が設定ファイルと異なります。").arg(check.differences.size());
    case Status::WrongStation:
        return QStringLiteral("局番号 %1 のVELTRAが応答しました。設定値は比較していません。")
            .arg(check.stationRead ? stationText(*check.stationRead) : QStringLiteral("—"));
    case Status::NoReply:
        return QStringLiteral("時間内に応答がありませんでした。");
    case Status::DataError:
        return QStringLiteral("読込で受け付けられない応答がありました。");
    case Status::PortUnusable:
        return check.refusal.isEmpty()
                   ? QStringLiteral("ポートを開けませんでした。")
                   : QStringLiteral("ポートを開けませんでした: %1").arg(check.refusal);
    case Status::NotReached:
        return QStringLiteral("確認の前に中断されました。");
    case Status::DesignInvalid:
        return QStringLiteral("設定ファイルがないか、書き込めない値があります。"
                              "VELTRAには何も送信していません。");
    }
    Q_UNREACHABLE();
}

QString siteWriteText(RelayWrite::Status status)
{
    using Status = RelayWrite::Status;
    switch (status) {
    case Status::Verified:
        return QStringLiteral("書込・照合済み");
    case Status::NotTaken:
        return QStringLiteral("書込済み・照合不一致");
    case Status::NotVerified:
        return QStringLiteral("書込済み・照合できず");
    case Status::WriteFailed:
        return QStringLiteral("書込失敗");
    case Status::Refused:
        return QStringLiteral("書込中止");
    case Status::HistoryUnsaved:
        return QStringLiteral("履歴を保存できず未書込");
    case Status::LeftAlone:
        return QStringLiteral("書込不要");
    case Status::NotReached:
        return QStringLiteral("未書込");
    }
    Q_UNREACHABLE();
}

QString siteLogResult(const SiteLogEntry &entry)
{
    using Check = RelayCheck::Status;
    using Write = RelayWrite::Status;
    const QString &word = entry.result;
    if (entry.operation == QStringView(siteoperation::kCheck)) {
        for (const Check status :
             {Check::Match, Check::Differs, Check::WrongStation, Check::NoReply, Check::DataError,
              Check::PortUnusable, Check::NotReached, Check::DesignInvalid})
            if (word == siteStatusWord(status))
                return siteStatusText(status);
        return word;
    }
    if (word == QStringView(siteoperation::kWritten))
        return QStringLiteral("書込済み");
    for (const Write status :
         {Write::Verified, Write::NotTaken, Write::NotVerified, Write::WriteFailed, Write::Refused,
          Write::HistoryUnsaved, Write::LeftAlone, Write::NotReached})
        if (word == siteWriteWord(status))
            return siteWriteText(status);
    return word;
}

QString terminalClearQuestion(const QString &device, std::optional<int> station,
                              bool operationValues)
{
    return QStringLiteral("%1 のVELTRA (%2) の%3 [y/N] ")
        .arg(device, expectedStationWords(station), clearQuestion(operationValues));
}

QString loadQuestion(const QString &shownPath)
{
    // Path on the first line, the sentence on the second: a message box breaks lines at LF
    // only, a CR would run both together.
    return shownPath + u'\n' + QStringLiteral("のVELTRA設定ファイルを読み込みます。");
}

QString portClosing()
{
    return QStringLiteral("COMポートを閉じます");
}

namespace {

// Each problem on a line of its own, at most ten, then how many more.
QStringList problemLines(const QList<ValueProblem> &problems)
{
    constexpr qsizetype kListed = 10;
    QStringList lines;
    for (const ValueProblem &problem : problems.first(std::min(problems.size(), kListed)))
        lines << QStringLiteral("%1 %2 \"%3\": %4")
                     .arg(pageName(problem.page), rowLabel(pageKind(problem.page), problem.item),
                          problem.text, writeProblem(problem.problem));
    if (problems.size() > kListed)
        lines << QStringLiteral("ほか %1 件").arg(problems.size() - kListed);
    return lines;
}

// "共通設定、回路１、回路２" or "回路３～回路８": a run of three circuits or more as a range.
QString pageNames(const QList<int> &pages)
{
    if (pages.isEmpty())
        return QStringLiteral("なし");
    QStringList names;
    for (qsizetype i = 0; i < pages.size();) {
        qsizetype end = i;
        while (pages[i] != kCommonPage && end + 1 < pages.size() &&
               pages[end + 1] == pages[end] + 1)
            ++end;
        if (end - i >= 2) {
            names << pageName(pages[i]) + u'～' + pageName(pages[end]);
        } else {
            for (qsizetype k = i; k <= end; ++k)
                names << pageName(pages[k]);
        }
        i = end + 1;
    }
    return names.join(u'、');
}

QList<int> pagesBetween(int first, int last, const QList<int> &except)
{
    QList<int> pages;
    for (int page = first; page <= last; ++page)
        if (!except.contains(page))
            pages << page;
    return pages;
}

// A read-all or write-all that stopped partway says how far it got, under its classic text.
QString withProgress(const QString &text, const Outcome &outcome)
{
    if (outcome.command == CommandId::ReadAll && !outcome.pagesRead.isEmpty())
        return text + u'\n' +
               QStringLiteral("読込済み: %1 / 未読込: %2")
                   .arg(pageNames(outcome.pagesRead),
                        pageNames(pagesBetween(kCommonPage, kPageCount - 1, outcome.pagesRead)));
    if (outcome.command == CommandId::WriteAll && !outcome.pagesSent.isEmpty())
        return text + u'\n' +
               QStringLiteral("書込済み: %1 / 未書込: %2")
                   .arg(pageNames(outcome.pagesSent),
                        pageNames(pagesBetween(kCommonPage, kPageCount - 1, outcome.pagesSent)));
    return text;
}

QList<int> pagesOf(const Outcome &outcome)
{
    return outcome.command == CommandId::WriteAll ? pagesBetween(kCommonPage, kPageCount - 1, {})
                                                  : QList<int>{outcome.page};
}

QString linkErrorText(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Kind::DataError:
        return linkError(LinkError::DataError);
    case Outcome::Kind::PortUnusable:
        return linkError(LinkError::PortUnusable);
    default:
        return linkError(LinkError::NoReply);
    }
}

QString notTakenList(const QList<NotTakenItem> &items)
{
    QStringList lines;
    for (const NotTakenItem &item : items)
        lines << notTakenLine(item);
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

QString olderPresentValues(const PageReading &reading, const QString &portNow)
{
    const QString read = QStringLiteral("%1 に %2 から読み込んだ値です。")
                             .arg(reading.time.toString(QStringLiteral("HH:mm:ss")), reading.port);
    if (reading.superseded)
        return read + QStringLiteral("その後の読み込みに失敗したため、古い値かもしれません。");
    return read +
           QStringLiteral("COMポートが %1 に変わったため、このポートのリレーの値ではありません。")
               .arg(portNow);
}

QString notTakenLine(const NotTakenItem &item)
{
    return QStringLiteral("%1 %2: 設定 %3 / 現在 %4")
        .arg(pageName(item.page), rowLabel(pageKind(item.page), item.item), item.written,
             item.present);
}

QString writeDetails(const WriteDetails &details)
{
    QStringList lines;
    // Values from elsewhere come first, so that nothing below reads as this relay's.
    if (!details.older.isEmpty()) {
        if (!details.otherPort.isEmpty())
            lines << QStringLiteral("現在値は別のポート (%1) で読み込んだ値です。%2 "
                                    "のリレーの値ではないため、比べられません: %3")
                         .arg(details.otherPort, details.device, pageNames(details.older));
        else
            lines << QStringLiteral("現在値はその後の読み込みに失敗した前の古い値のため、"
                                    "比べられません: %1")
                         .arg(pageNames(details.older));
    }
    // Without a page of this relay compared there is nothing to tell of what would change.
    if (details.comparedPages > 0 && details.changes.isEmpty())
        lines << QStringLiteral("書き込んでも変わる設定値はありません。");
    else if (details.comparedPages > 0)
        lines << QStringLiteral("書き込むと変わる設定値 (%1 件):").arg(details.changes.size());
    for (const WriteDetails::Change &c : details.changes)
        lines << QStringLiteral("%1 %2: %3 → %4")
                     .arg(pageName(c.page), rowLabel(pageKind(c.page), c.item), c.from, c.to);
    if (!details.notRead.isEmpty())
        lines << QStringLiteral("現在値が読み込まれていないため比べられないタブ: %1")
                     .arg(pageNames(details.notRead));
    lines << QStringLiteral("ポート: %1").arg(details.device)
          << (details.expectedStation
                  ? QStringLiteral("局番号: %1 (書き込む前にリレーの局番号と照合します)")
                        .arg(stationText(*details.expectedStation))
                  : QStringLiteral("局番号: 未確認 (このポートで読み込んだ局番号がないため、"
                                   "照合しません)"));
    return lines.join(u'\n');
}

QString misplacedLabels(const QList<int> &pages, const QStringList &lines)
{
    if (pages.isEmpty())
        return {};
    QStringList text{
        QStringLiteral("ラベルが位置と合わない行があります。行の位置のとおりに読み込むため、"
                       "値が別のタブに入ります:")};
    for (int page : pages)
        text << QStringLiteral("%1 行目 「%2」: %3 の行です")
                    .arg(page == kCommonPage ? 3 : page + 4)
                    .arg(lines.value(page).section(u',', 0, 0).section(u' ', 0, 0), pageName(page));
    return text.join(u'\n');
}

QString stationNumber(const QString &station)
{
    return QStringLiteral("局番号: %1").arg(station.isEmpty() ? QStringLiteral("未読込") : station);
}

QString pdfSaveFailed()
{
    return QStringLiteral("PDFを保存できませんでした。");
}

QString frameDirection(bool sent)
{
    return sent ? QStringLiteral("送信") : QStringLiteral("受信");
}

QString framePage(int page)
{
    if (page == kClearPage)
        return QStringLiteral("クリア");
    return isSettingsPage(page) ? pageName(page) : QStringLiteral("—");
}

QString frameResult(FrameLog::Result result, qsizetype bytes)
{
    using Result = FrameLog::Result;
    switch (result) {
    case Result::Sent:
        return QStringLiteral("送信済み");
    case Result::NotSent:
        return QStringLiteral("未送信");
    case Result::PortUnusable:
        return QStringLiteral("未送信(ポートを開けません)");
    case Result::Accepted:
        return QStringLiteral("正常");
    case Result::BadChecksum:
        return QStringLiteral("チェックサム異常");
    case Result::StrayBeforeStx:
        return QStringLiteral("STXの前に余分なデータ");
    case Result::NoReply:
        return QStringLiteral("応答なし"); // a time-out, or a line lost mid-wait
    case Result::IncompleteReply:
        return QStringLiteral("応答不完全 (%1 バイト)").arg(bytes);
    }
    return {};
}

QString frameCut(qsizetype bytes)
{
    return QStringLiteral("…(%1 バイト)").arg(bytes);
}

QString logSaveFailed()
{
    return QStringLiteral("ログを保存できませんでした。");
}

QString notLoadedWhileBusy(const QString &fileName)
{
    return QStringLiteral("コマンドの実行中です。%1 "
                          "は読み込んでいません。終わってから、もう一度開いてください。")
        .arg(fileName);
}

QString noRelayFound()
{
    return QStringLiteral(
        "リレーは見つかりませんでした。ケーブルとリレーの電源を確認してください。");
}

QString relaysAnswered(qsizetype count)
{
    return QStringLiteral("%1 台のリレーが応答しました。").arg(count);
}

QString noAnswer()
{
    return QStringLiteral("応答なし");
}

QString declined(CommandId command)
{
    return command == CommandId::Clear ? QStringLiteral("クリアを中止しました。")
                                       : QStringLiteral("書き込みを中止しました。");
}

QString noSuchItem()
{
    return QStringLiteral("その項目はありません。");
}

QString misplacedLabel(int page)
{
    return QStringLiteral("%1 の行に別のラベルがあります").arg(pageName(page));
}

QString misplacedLabelsRefused()
{
    return QStringLiteral("設定ファイルの行のラベルが位置と合いません。書き込みを中止しました。");
}

namespace {

// Where and when pages were read: the ports in the order met, the first and the last time.
struct ReadingsSummary
{
    QStringList ports;
    QDateTime first;
    QDateTime last;
    int read = 0;
};

ReadingsSummary summarise(const QList<std::optional<PageReading>> &readings)
{
    ReadingsSummary summary;
    for (const std::optional<PageReading> &reading : readings) {
        if (!reading)
            continue;
        ++summary.read;
        if (!summary.ports.contains(reading->port))
            summary.ports << reading->port;
        summary.first = summary.read == 1 ? reading->time : std::min(summary.first, reading->time);
        summary.last = std::max(summary.last, reading->time);
    }
    return summary;
}

// "現在値: COM3 から 14:32:05 に読込 (9/9)、うち 2 ページは古い値", or "現在値: 未読込".
QString readingsLine(const ReadingsSummary &summary, const QString &when, qsizetype pages,
                     int olderPages)
{
    if (summary.read == 0)
        return QStringLiteral("現在値: 未読込");
    QString text = QStringLiteral("現在値: %1 %2 に読込 (%3/%4)")
                       .arg(summary.ports.size() == 1
                                ? summary.ports.constFirst() + QStringLiteral(" から")
                                : QStringLiteral("%1 つのポートから").arg(summary.ports.size()),
                            when)
                       .arg(summary.read)
                       .arg(pages);
    if (olderPages > 0)
        text += QStringLiteral("、うち %1 ページは古い値").arg(olderPages);
    return text;
}

} // namespace

QString presentValuesStatus(const QList<std::optional<PageReading>> &readings, int olderPages,
                            const QString &station, const QString &fingerprint)
{
    const ReadingsSummary summary = summarise(readings);
    QString text = readingsLine(summary, summary.last.toString(QStringLiteral("HH:mm:ss")),
                                readings.size(), olderPages);
    if (summary.read == 0)
        return text;
    if (!station.isEmpty())
        text += QStringLiteral("　局番号 %1").arg(station);
    return text + QStringLiteral("　フィンガープリント %1").arg(fingerprint);
}

QString reportReadings(const QList<std::optional<PageReading>> &readings, int olderPages)
{
    // On paper, with the day; pages read by different commands as the span they were read in.
    const ReadingsSummary summary = summarise(readings);
    const QString dayAndTime = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QString first = summary.first.toString(dayAndTime);
    const QString last = summary.last.toString(
        summary.last.date() == summary.first.date() ? QStringLiteral("HH:mm:ss") : dayAndTime);
    QString text = readingsLine(summary, first.endsWith(last) ? first : first + u'～' + last,
                                readings.size(), olderPages);
    if (olderPages > 0)
        text += QStringLiteral(" (ページごとに注記)");
    return text;
}

QString lastWrite(const std::optional<Outcome> &outcome, const QDateTime &time)
{
    const QString label = QStringLiteral("最後の書込: ");
    if (!outcome)
        return label + QStringLiteral("なし");
    QString what, how;
    if (outcome->command == CommandId::Clear) {
        what = outcome->operationValues ? QStringLiteral("動作値クリア")
                                        : QStringLiteral("最大値クリア");
        how = outcome->succeeded() ? QStringLiteral("送信済み") : QStringLiteral("送信に失敗");
    } else {
        what = outcome->command == CommandId::WriteAll ? QStringLiteral("全設定値")
                                                       : pageName(outcome->page);
        switch (outcome->kind) {
        case Outcome::Kind::Success:
            how = outcome->verified ? QStringLiteral("書込・照合済み")
                                    : QStringLiteral("書込済み・未照合");
            break;
        case Outcome::Kind::NotTaken:
            how = QStringLiteral("書込済み・照合で不一致 %1 件").arg(outcome->notTaken.size());
            break;
        case Outcome::Kind::NotVerified:
            how = QStringLiteral("書込済み・読み戻せず未照合");
            break;
        default: // the link check or a frame failed
            how = outcome->pagesSent.isEmpty()
                      ? QStringLiteral("書込に失敗 (未送信)")
                      : QStringLiteral("書込に失敗 (%1で停止)").arg(pageName(outcome->page));
        }
    }
    return label +
           QStringLiteral("%1 %2 %3").arg(time.toString(QStringLiteral("HH:mm:ss")), what, how);
}

QString reportSettingsFile(const QString &shownPath, bool edited)
{
    if (shownPath.isEmpty())
        return QStringLiteral("設定ファイル: なし");
    return QStringLiteral("設定ファイル: %1").arg(shownPath) +
           (edited ? QStringLiteral(" (編集済み)") : QString());
}

QString waitingForReply(double seconds)
{
    return QStringLiteral("応答待ち %1 s").arg(seconds, 0, 'f', 1);
}

QString searchingForRelays(const QStringList &waiting)
{
    const QString text = QStringLiteral("リレーを探しています");
    if (waiting.isEmpty())
        return text;
    return text + QStringLiteral("　応答待ち: ") + waiting.join(QStringLiteral("、"));
}

QString stoppedStatus(const Outcome &outcome)
{
    if (outcome.command == CommandId::FindRelays)
        return QStringLiteral("リレーの検索を中止しました。");
    return QStringLiteral("全現在設定値取得を中止しました (%1/%2 ページ読込済み)。")
        .arg(outcome.pagesRead.size())
        .arg(kPageCount);
}

QString progress(Progress kind, int done, int total)
{
    const QString verb = kind == Progress::Writing     ? QStringLiteral("書込中")
                         : kind == Progress::Verifying ? QStringLiteral("照合中")
                                                       : QStringLiteral("読込中");
    return QStringLiteral("%1 %2/%3").arg(verb).arg(done).arg(total);
}

QString lineRefused(const QString &why)
{
    return QStringLiteral("%1 ネットワーク経由のポートを使用できません: %2")
        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), why);
}

QString linkError(LinkError error)
{
    switch (error) {
    case LinkError::None:
        break;
    case LinkError::NoReply:
        return QStringLiteral(
            "通信回線が繋がりません。COMポート番号か、ケーブルの接続を確認してください｡ ");
    case LinkError::DataError:
        return QStringLiteral("通信データエラーです。再実行してください。");
    case LinkError::PortUnusable:
        return QStringLiteral("指定のCOMポートは使用できません。");
    }
    return {};
}

QString replyProblem(ReplyVerdict verdict)
{
    switch (verdict) {
    case ReplyVerdict::StrayBeforeStx:
        return QStringLiteral("応答の前に余分な文字があります");
    case ReplyVerdict::BadChecksum:
        return QStringLiteral("チェックサムが合いません");
    case ReplyVerdict::Incomplete:
    case ReplyVerdict::Accepted:
        break;
    }
    return QStringLiteral("応答が完結しません");
}

QString relaySearch(const Outcome &outcome)
{
    QStringList relays, relayPorts, unusable, silent, unreadable;
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
        case Probe::Status::Unreadable:
            unreadable << QStringLiteral("  %1　%2").arg(probe.port, replyProblem(probe.verdict));
            break;
        }
    }
    QStringList lines;
    if (relays.isEmpty())
        lines << noRelayFound();
    else if (relays.size() == 1)
        lines << QStringLiteral("リレーが見つかりました。COMポートを %1 にしました。")
                     .arg(relayPorts.constFirst());
    else
        lines << relaysAnswered(relays.size()) + QStringLiteral("使うCOMポートを選んでください。");
    if (!relays.isEmpty())
        lines << QString() << QStringLiteral("応答したリレー:") << relays;
    if (!unreadable.isEmpty())
        lines << QString() << QStringLiteral("応答はあるが読み込めないポート:") << unreadable;
    if (!unusable.isEmpty())
        lines << QString() << QStringLiteral("使用中か、開けないポート:")
              << QStringLiteral("  ") + unusable.join(QStringLiteral("、"));
    if (!silent.isEmpty())
        lines << QString() << QStringLiteral("応答がなかったポート:")
              << QStringLiteral("  ") + silent.join(QStringLiteral("、"));
    return lines.join(u'\n');
}

OutcomeMeaning meaningOf(const Outcome &outcome)
{
    using Kind = Outcome::Kind;
    // {port}, {file}, {page}, {count}, {s} (plural), {sent}, {link}, {why}, {read},
    // {expected} and {problem} stand for what a note names.
    const bool writing =
        outcome.command == CommandId::WritePage || outcome.command == CommandId::WriteAll;
    const bool search = outcome.command == CommandId::FindRelays;
    // A search ended by Esc has not heard every port: its list would say "not found" of ports
    // that had no time to answer. The status line says it was ended, as for a read-all.
    const QString searchList = search ? relaySearch(outcome) : QString();
    switch (outcome.kind) {
    case Kind::Success:
        return {kSuccess, search ? searchList : success(outcome), {}, ""};
    case Kind::NoReply:
        if (search)
            return {kNoReply, searchList, noRelayFound(), "no relay answered on {count} port{s}"};
        return {kNoReply,
                withProgress(linkErrorText(outcome.kind), outcome),
                {},
                "no complete reply from the relay on {port} within 3 s"};
    case Kind::WriteFailed: // the frame did not reach the line: the line is not there
        return {kNoReply,
                withProgress(linkErrorText(outcome.kind), outcome),
                {},
                "the frame of page {page} did not leave {port}"};
    case Kind::DataError:
        return {kDataError,
                withProgress(linkErrorText(outcome.kind), outcome),
                {},
                "the relay's reply on {port} failed its checksum"};
    case Kind::PortUnusable:
        return {kPortUnusable,
                withProgress(linkErrorText(outcome.kind), outcome),
                {},
                "cannot open {port}: no such port, or it is in use or not permitted",
                nullptr,
                "cannot open {port}: {why}"};
    case Kind::WrongStation:
        return {kWrongStation,
                wrongStation(outcome),
                {},
                "the relay on {port} is station {read}, not {expected}; nothing was sent"};
    case Kind::NotVerified:
        return {kNotVerified,
                notVerified() + u'\n' + linkErrorText(outcome.linkFailure),
                {},
                "pages sent: {sent}; reading them back failed ({link}), so nothing was verified"};
    case Kind::InvalidSetValues:
        return {kInvalid,
                outcome.command == CommandId::SaveEdited ? editedSaveRefused(outcome.problems)
                                                         : invalidSetValues(outcome.problems),
                {},
                "values that cannot be written; nothing was sent"};
    case Kind::InvalidPresentValues:
        return {kInvalid,
                outcome.command == CommandId::Save ? saveRefused() : invalidPresentValues(),
                {},
                "a settings file needs all nine pages read from one relay, each value valid; "
                "nothing was saved"};
    case Kind::NotSettingsFile:
        return {kInvalid, notSettingsFile(), {}, "{file} is not a VELTRA settings file"};
    case Kind::FileTooShort: // a file cut short is no settings file either
        return {kInvalid,
                notSettingsFile(),
                {},
                "{file} has fewer than the 12 lines of a settings file"};
    case Kind::FileUnreadable:
        return {kFileError, unreadable(), {}, "{problem}"};
    case Kind::FileUnwritable:
        return {kFileError, saveFailed(), {}, "{problem}"};
    case Kind::NotTaken: // the command line prints the items themselves on standard output
        return {kDifferences, notTakenList(outcome.notTaken), notTaken(),
                "the relay did not take {count} item{s} as written"};
    case Kind::NothingToClear:
        return {kUsage, nothingToClear(), {}, "clear takes one of --operation and --maximum"};
    case Kind::Declined:
        return {kDeclined,
                {},
                declined(outcome.command),
                "not confirmed; nothing was sent",
                "no terminal to confirm on: give --yes to run from a script; nothing was sent"};
    case Kind::Stopped:
        // A write names how far it got; a read or a search ended by Esc has the status line.
        return {kStopped,
                writing || outcome.command == CommandId::Clear ? stopped(outcome) : QString(),
                stopped(outcome), "stopped by a signal before it was done"};
    }
    Q_UNREACHABLE();
}

QString report(const Outcome &outcome)
{
    return meaningOf(outcome).message;
}

QString lineNotice(const LineNotice &notice)
{
    QString text;
    switch (notice.kind) {
    case LineNotice::Kind::EightBitsUnderWine:
        // Said once a session, whichever port: it is about Wine, not the port.
        return QStringLiteral("Wine上で動作しています。このCOMポートは7ビット・偶数パリティに"
                              "設定できないため、8ビット・パリティなしで通信します。");
    case LineNotice::Kind::SlowLatencyTimer:
        text = QStringLiteral("このUSBシリアル変換器の応答待ち時間 (Latency Timer) は %1 ms です。"
                              "デバイスマネージャー → ポートの設定 → 詳細設定 で 1～4 ms "
                              "にすると読み込みが速くなります。")
                   .arg(notice.latencyTimerMs);
        break;
    }
    return notice.port.isEmpty() ? text : QStringLiteral("%1: %2").arg(notice.port, text);
}

const QList<ExitMeaning> &exitMeanings()
{
    static const QList<ExitMeaning> meanings{
        {kSuccess, "success"},
        {kDifferences, "differences found, or items the relay did not take as written"},
        {kUsage, "usage error"},
        {kNoReply, "no reply from the relay, or a write frame that did not leave the port"},
        {kDataError, "data error (a reply that failed its checksum)"},
        {kPortUnusable, "the port cannot be used"},
        {kInvalid, "values that cannot be written, or not a settings file"},
        {kFileError, "a file could not be read or written"},
        {kDeclined, "not confirmed: nothing was sent"},
        {kNotVerified, "written, but the read-back failed: the pages were sent and not verified"},
        {kWrongStation, "the relay answered with another station number than expected "
                        "(--expect-station): nothing was sent"},
        {kStopped, "stopped by Ctrl+C, SIGTERM or SIGHUP: the frame on the line completed, no "
                   "further one was sent, and the note names what was"},
        {kRelaysUnread, "site: a relay could not be read or written (no reply, data error, "
                        "port unusable, a write frame that did not leave)"},
    };
    return meanings;
}

QString wrongStation(const Outcome &outcome)
{
    const QString found =
        outcome.stationRead
            ? QStringLiteral("%1 のリレーは局番号 %2 です")
                  .arg(outcome.device, stationText(*outcome.stationRead))
            : QStringLiteral("%1 のリレーの局番号が読み取れません").arg(outcome.device);
    return QStringLiteral("%1 (想定 %2)。%3")
        .arg(found, stationText(outcome.stationExpected.value_or(0)), declined(outcome.command));
}

QString stopped(const Outcome &outcome)
{
    switch (outcome.command) {
    case CommandId::WritePage:
    case CommandId::WriteAll: {
        const QList<int> pages = pagesOf(outcome);
        QList<int> unsent;
        for (int page : pages)
            if (!outcome.pagesSent.contains(page))
                unsent << page;
        return QStringLiteral("書き込みを中断しました。") + u'\n' +
               QStringLiteral("書込済み: %1 / 未書込: %2")
                   .arg(pageNames(outcome.pagesSent), pageNames(unsent));
    }
    case CommandId::Clear:
        return QStringLiteral("クリアを中断しました。クリアは送信していません。");
    default:
        return stoppedStatus(outcome);
    }
}

QString invalidSetValues()
{
    return QStringLiteral(
        "設定値が読み込まれていないか、正常値ではありません。再設定してください。");
}

QString invalidSetValues(const QList<ValueProblem> &problems)
{
    // "* * * *" and "ERROR" have always been refused with the message alone.
    if (std::all_of(problems.begin(), problems.end(),
                    [](const ValueProblem &p) { return alwaysRefused(p.problem); }))
        return invalidSetValues();
    return (QStringList{invalidSetValues(), QString()} + problemLines(problems)).join(u'\n');
}

QString notVerified()
{
    return QStringLiteral("設定値は送信しましたが、読み戻せなかったため照合できませんでした。");
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
    return (QStringList{QStringLiteral("書き込みできない設定値があるため、保存しませんでした。"),
                        QString()} +
            problemLines(problems))
        .join(u'\n');
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
