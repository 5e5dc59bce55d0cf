#include "operations/messages.h"

#include <QTime>

#include "link/devicelink.h"
#include "settings/items.h"

#include <QStringList>

#include <algorithm>

namespace veltra::messages {

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

QString terminalWriteQuestion(const QString &device, int pages)
{
    return QStringLiteral("%1 のVELTRAに %2 ページを書き込みます。よろしいですか？ [y/N] ")
        .arg(device)
        .arg(pages);
}

QString terminalClearQuestion(const QString &device, bool operationValues)
{
    return QStringLiteral("%1 のVELTRAの%2 [y/N] ").arg(device, clearQuestion(operationValues));
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
    if (details.changes.isEmpty())
        lines << QStringLiteral("書き込んでも変わる設定値はありません。");
    else
        lines << QStringLiteral("書き込むと変わる設定値 (%1 件):").arg(details.changes.size());
    for (const WriteDetails::Change &c : details.changes)
        lines << QStringLiteral("%1 %2: %3 → %4")
                     .arg(pageName(c.page), rowLabel(pageKind(c.page), c.item), c.from, c.to);
    if (!details.notRead.isEmpty())
        lines << QStringLiteral("現在値が読み込まれていないため比べられないタブ: %1")
                     .arg(pageNames(details.notRead));
    if (!details.older.isEmpty())
        lines << QStringLiteral("現在値が古い(別のポートか、読み込みに失敗した後の)タブ: %1")
                     .arg(pageNames(details.older));
    lines << QStringLiteral("ポート: %1").arg(details.device)
          << QStringLiteral("局番号: %1")
                 .arg(details.station.isEmpty() ? QStringLiteral("未読込") : details.station);
    return lines.join(u'\n');
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

QString frameResult(FrameLog::Result result)
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
    }
    return {};
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

QString presentValuesStatus(const QList<std::optional<PageReading>> &readings, int olderPages,
                            const QString &station, const QString &fingerprint)
{
    QStringList ports;
    QDateTime latest;
    int read = 0;
    for (const std::optional<PageReading> &reading : readings) {
        if (!reading)
            continue;
        ++read;
        if (!ports.contains(reading->port))
            ports << reading->port;
        latest = std::max(latest, reading->time);
    }
    if (read == 0)
        return QStringLiteral("現在値: 未読込");
    QString text =
        QStringLiteral("現在値: %1 %2 に読込 (%3/%4)")
            .arg(ports.size() == 1 ? ports.constFirst() + QStringLiteral(" から")
                                   : QStringLiteral("%1 つのポートから").arg(ports.size()),
                 latest.toString(QStringLiteral("HH:mm:ss")))
            .arg(read)
            .arg(readings.size());
    if (olderPages > 0)
        text += QStringLiteral("、うち %1 ページは古い値").arg(olderPages);
    if (!station.isEmpty())
        text += QStringLiteral("　局番号 %1").arg(station);
    return text + QStringLiteral("　フィンガープリント %1").arg(fingerprint);
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

QString report(const Outcome &outcome)
{
    using Kind = Outcome::Kind;
    // A search ended by Esc has not heard every port: its list would say "not found" of ports
    // that had no time to answer. The status line says it was ended, as for a read-all.
    if (outcome.command == CommandId::FindRelays && outcome.kind != Kind::Stopped)
        return relaySearch(outcome);
    switch (outcome.kind) {
    case Kind::Success:
        return success(outcome);
    case Kind::NoReply:
    case Kind::WriteFailed: // the frame did not reach the line: the line is not there
    case Kind::DataError:
    case Kind::PortUnusable:
        return withProgress(linkErrorText(outcome.kind), outcome);
    case Kind::NotVerified:
        return notVerified() + u'\n' + linkErrorText(outcome.linkFailure);
    case Kind::InvalidSetValues:
        return outcome.command == CommandId::SaveEdited ? editedSaveRefused(outcome.problems)
                                                        : invalidSetValues(outcome.problems);
    case Kind::InvalidPresentValues:
        return outcome.command == CommandId::Save ? saveRefused() : invalidPresentValues();
    case Kind::NotSettingsFile:
    case Kind::FileTooShort: // a file cut short is no settings file either
        return notSettingsFile();
    case Kind::FileUnreadable:
        return unreadable();
    case Kind::FileUnwritable:
        return saveFailed();
    case Kind::NotTaken:
        return notTakenList(outcome.notTaken);
    case Kind::NothingToClear:
        return nothingToClear();
    case Kind::Declined:
    case Kind::Stopped: // the status line says so; no box to dismiss
        break;
    }
    return {};
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
