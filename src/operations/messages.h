#pragma once

#include "operations/commands.h"
#include "operations/framelog.h"
#include "operations/outcome.h"
#include "settings/changes.h"
#include "settings/writable.h"
#include "site/sitecheck.h"
#include "site/sitewrite.h"

#include <QString>

// The operations' reports, each written once. The window shows the report of an outcome; the
// command line prints it beside its exit code.
namespace veltra {

// The command line's exit statuses.
enum ExitCode : int {
    kSuccess = 0,
    kDifferences = 1,
    kUsage = 2,
    kNoReply = 3,
    kDataError = 4,
    kPortUnusable = 5,
    kInvalid = 6,
    kFileError = 7,
    kDeclined = 8,
    kNotVerified = 9,
    kWrongStation = 10,
    kStopped = 11,
    kRelaysUnread = 12,
};

struct ExitMeaning
{
    int code;
    const char *meaning;
};

// What an outcome means at each edge, for every kind in one place: the window's message, the
// command line's exit status and its English note. Its notes name what they tell with {port},
// {file}, {page}, {count}, {s} (plural), {sent}, {link}, {why}, {read}, {expected} and
// {problem}.
struct OutcomeMeaning
{
    int exit = kSuccess;
    QString message;  // the window's box; empty where the command ends without a word
    QString terminal; // the command line's first words, where they are not the message's
    const char *note = "";
    const char *noTerminal = nullptr; // a confirmation nobody could be asked
    const char *refused = nullptr;    // the far end said why it would not serve the line
};

} // namespace veltra

namespace veltra {
struct SiteLogEntry;
} // namespace veltra

namespace veltra::messages {

// The one table of outcomes: a switch over every kind with no default, so that a kind added
// without its row does not build.
OutcomeMeaning meaningOf(const Outcome &outcome);
// Every exit status with its meaning, as --help, the manual and the README list them.
const QList<ExitMeaning> &exitMeanings();
// What a line says about itself, as the monitor shows it: "PORT: text", or the text alone in a
// listing of every port. A switch over every kind with no default, as the table above.
QString lineNotice(const LineNotice &notice);
// The message box text for an outcome; empty where the command ends without a word.
QString report(const Outcome &outcome);
// Why a set value cannot be written, in a few words.
QString writeProblem(WriteProblem problem);
// A mark's tooltip and accessible description; empty without a mark.
QString fieldExplanation(const FieldState &state, const QString &present, const QString &set);
// The confirmations: writing one page or all, clearing, loading a file; the exit notice.
QString writeQuestion(int page);
QString writeAllQuestion();
// The confirmation's details: each value that will change, the pages that cannot be compared,
// the port and the station.
QString writeDetails(const WriteDetails &details);
QString clearQuestion(bool operationValues);
QString loadQuestion(const QString &shownPath);
// The same questions as the command line asks them on the terminal, naming the relay's port
// and the station it must hold ("局番号未確認" without one).
QString terminalWriteQuestion(const QString &device, std::optional<int> station, int pages);
// A site write's one question: each relay to be written on a line of its own (tag, port,
// station, number of changes), then the question.
QString siteWriteQuestion(const QList<RelayCheck> &relays);
QString terminalClearQuestion(const QString &device, std::optional<int> station,
                              bool operationValues);
// A site relay's status in a word, and a mark of its kind that still tells it on paper in black
// and white: ○ match, △ differs, ◇ another station, × not read, － not reached, ！ design.
QString siteStatusText(RelayCheck::Status status);
QString siteStatusMark(RelayCheck::Status status);
// What the status means for that relay, in a sentence: how many items differ, which station
// answered, why its port would not open.
QString siteCheckDetail(const RelayCheck &check);
// What a site write did to a relay.
QString siteWriteText(RelayWrite::Status status);
// A site log line's result in Japanese; a word this version does not know, as it stands.
QString siteLogResult(const SiteLogEntry &entry);
// A load's details: the lines whose labels are not those of their place; empty when none.
QString misplacedLabels(const QList<int> &pages, const QStringList &lines);
// "014"
QString stationText(int station);
// The link check found another station than the one expected: both, and the port.
QString wrongStation(const Outcome &outcome);
// A command ended between two frames: how far it got.
QString stopped(const Outcome &outcome);
QString portClosing();
// "回路３ 絶縁監視動作感度設定: 設定 50(mA) / 現在 45(mA)"
QString notTakenLine(const NotTakenItem &item);
// The report that could not be saved; a file dropped while a command waits on the relay.
QString pdfSaveFailed();
// The frame log's words: direction, page, how a frame fared; the log that could not be saved.
QString frameDirection(bool sent);
QString framePage(int page);
// `bytes` is the frame's length, which an incomplete reply names.
QString frameResult(FrameLog::Result result, qsizetype bytes);
// What stands for the rest of a frame cut for display: "…(65536 バイト)", the whole length.
QString frameCut(qsizetype bytes);
QString logSaveFailed();
QString notLoadedWhileBusy(const QString &fileName);
// A relay search that found none, or `count` relays; a port that said nothing.
QString noRelayFound();
QString relaysAnswered(qsizetype count);
QString noAnswer();
// A write or a clear that was not confirmed.
QString declined(CommandId command);
// A change named for an item that no page has.
QString noSuchItem();
// A settings file's line whose label is not that of page 0..8, the page its position fills.
QString misplacedLabel(int page);
// A write refused because lines of its file are labelled for other places.
QString misplacedLabelsRefused();
// "読込中 3/9", "書込中 4/9", "照合中 2/9".
using veltra::Progress;
QString progress(Progress kind, int done, int total);
// The status line at rest: where and when the present values came from.
QString presentValuesStatus(const QList<std::optional<PageReading>> &readings, int olderPages,
                            const QString &station, const QString &fingerprint);
// The status line while a reply is awaited, and after a read-all ended by Esc or a search.
QString waitingForReply(double seconds);
QString searchingForRelays(const QStringList &waiting = {});
QString stoppedStatus(const Outcome &outcome);
// The message of link errors 1, 2 and 3; empty for none.
QString linkError(LinkError error);
// Below the monitor: why a port over the network could not be used, at what time, in the
// server's or the system's own (English) words.
QString lineRefused(const QString &why);
// Why a port's reply is no reply a read would take, in a few words.
QString replyProblem(ReplyVerdict verdict);
// The settings report's header: the relay's station number as read ("局番号: 012", or 未読込
// for an empty one), where and when the present values were read with how many of them may
// not be the relay's now (each noted at its page), the last write or clear of this run and how
// it ended ("最後の書込: 14:32:05 全設定値 書込・照合済み"), and the settings file loaded or
// saved last, "編集済み" when set values changed since.
QString stationNumber(const QString &station);
QString reportReadings(const QList<std::optional<PageReading>> &readings, int olderPages);
QString lastWrite(const std::optional<Outcome> &outcome, const QDateTime &time);
QString reportSettingsFile(const QString &shownPath, bool edited);
// Why a page's present values may not be what the relay on the port now named holds: its
// time and port of reading, then the reason. For the fields' tooltip and the report.
QString olderPresentValues(const PageReading &reading, const QString &portNow);
// "共通設定" or "回路３".
QString pageName(int page);

QString invalidSetValues();
// The same, with the values listed below it where a value beyond "* * * *" and "ERROR" is one.
QString invalidSetValues(const QList<ValueProblem> &problems);
// A write whose frames all left but whose read-back failed; the link error follows it.
QString notVerified();
QString invalidPresentValues();
QString allRead();
QString pageRead(int page);
QString written();
QString verified();
QString notTaken(); // follows the list of items the relay did not take
QString clearSent(bool operationValues);
QString nothingToClear();
QString saveRefused();
QString saveFailed();
// The refusal of a file made from the values to write: each value that cannot be written,
// at most ten, then how many more.
QString editedSaveRefused(const QList<ValueProblem> &problems);
QString notSettingsFile();
QString unreadable();
QString loaded();

} // namespace veltra::messages
