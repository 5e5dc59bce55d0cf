#include "cli/outcomes.h"

#include "cli/cli.h"
#include "operations/messages.h"
#include "settings/items.h"

#include <QStringList>

#include <algorithm>

namespace veltra::cli {
namespace {

using Kind = Outcome::Kind;

// {port}, {file}, {page}, {count}, {s} (plural), {sent}, {link} and {why} stand for what the
// note names; `noTerminal` is the note of a confirmation nobody could be asked, `refused` the
// note when the far end said why it would not serve the line.
struct OutcomeRow
{
    Kind kind;
    CommandId command; // CommandId::None: any command
    int exit;
    const char *note;
    const char *noTerminal = nullptr;
    const char *refused = nullptr;
};

const OutcomeRow kOutcomes[] = {
    {Kind::Success, CommandId::None, kSuccess, ""},
    {Kind::NoReply, CommandId::FindRelays, kNoReply, "no relay answered on {count} port{s}"},
    {Kind::NoReply, CommandId::None, kNoReply,
     "no complete reply from the relay on {port} within 3 s"},
    {Kind::DataError, CommandId::None, kDataError,
     "the relay's reply on {port} failed its checksum"},
    {Kind::PortUnusable, CommandId::None, kPortUnusable,
     "cannot open {port}: no such port, or it is in use or not permitted", nullptr,
     "cannot open {port}: {why}"},
    {Kind::WrongStation, CommandId::None, kWrongStation,
     "the relay on {port} is station {read}, not {expected}; nothing was sent"},
    {Kind::WriteFailed, CommandId::None, kNoReply, "the frame of page {page} did not leave {port}"},
    {Kind::NotVerified, CommandId::None, kNotVerified,
     "pages sent: {sent}; reading them back failed ({link}), so nothing was verified"},
    {Kind::InvalidSetValues, CommandId::None, kInvalid,
     "values that cannot be written; nothing was sent"},
    {Kind::InvalidPresentValues, CommandId::None, kInvalid,
     "a settings file needs all nine pages read from one relay, each value valid; nothing was "
     "saved"},
    {Kind::NotSettingsFile, CommandId::None, kInvalid, "{file} is not a VELTRA settings file"},
    {Kind::FileTooShort, CommandId::None, kInvalid,
     "{file} has fewer than the 12 lines of a settings file"},
    {Kind::FileUnreadable, CommandId::None, kFileError, "{problem}"},
    {Kind::FileUnwritable, CommandId::None, kFileError, "{problem}"},
    {Kind::NotTaken, CommandId::None, kDifferences,
     "the relay did not take {count} item{s} as written"},
    {Kind::NothingToClear, CommandId::None, kUsage, "clear takes one of --operation and --maximum"},
    {Kind::Declined, CommandId::None, kDeclined, "not confirmed; nothing was sent",
     "no terminal to confirm on: give --yes to run from a script; nothing was sent"},
    {Kind::Stopped, CommandId::None, kStopped, "stopped by a signal before it was done"},
};

const OutcomeRow &rowOf(Kind kind, CommandId command)
{
    const OutcomeRow *any = &kOutcomes[0];
    for (const OutcomeRow &row : kOutcomes) {
        if (row.kind != kind)
            continue;
        if (row.command == command)
            return row;
        if (row.command == CommandId::None)
            any = &row;
    }
    return *any;
}

QString note(const Outcome &outcome, Kind kind, const NoteContext &context)
{
    const OutcomeRow &row = rowOf(kind, outcome.command);
    const qsizetype count =
        outcome.command == CommandId::FindRelays ? outcome.probes.size() : outcome.notTaken.size();
    const char *chosen = context.noTerminal && row.noTerminal        ? row.noTerminal
                         : !outcome.refusal.isEmpty() && row.refused ? row.refused
                                                                     : row.note;
    QString text = QString::fromUtf8(chosen);
    text.replace(QLatin1String("{port}"), context.port)
        .replace(QLatin1String("{file}"), context.file)
        .replace(QLatin1String("{page}"), QString::number(outcome.page))
        .replace(QLatin1String("{count}"), QString::number(count))
        .replace(QLatin1String("{s}"), count == 1 ? QString() : QStringLiteral("s"))
        .replace(QLatin1String("{sent}"), pageList(outcome.pagesSent))
        .replace(QLatin1String("{why}"), outcome.refusal)
        .replace(QLatin1String("{read}"), outcome.stationRead
                                              ? messages::stationText(*outcome.stationRead)
                                              : QStringLiteral("unreadable"))
        .replace(QLatin1String("{expected}"),
                 messages::stationText(outcome.stationExpected.value_or(0)))
        .replace(QLatin1String("{problem}"), fileProblemNote(outcome.fileProblem, context.file,
                                                             outcome.kind == Kind::FileUnreadable));
    if (text.contains(QLatin1String("{link}")))
        text.replace(QLatin1String("{link}"), note(outcome, outcome.linkFailure, context));
    return text;
}

int plannedPages(const Outcome &outcome)
{
    return outcome.command == CommandId::WriteAll ? kPageCount : 1;
}

bool stoppedOnTheLine(Kind kind)
{
    return kind == Kind::NoReply || kind == Kind::DataError || kind == Kind::PortUnusable ||
           kind == Kind::WriteFailed;
}

} // namespace

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
    };
    return meanings;
}

Verdict verdict(const Outcome &outcome, const NoteContext &context)
{
    Verdict v;
    v.exit = rowOf(outcome.kind, outcome.command).exit;
    v.english = note(outcome, outcome.kind, context);
    switch (outcome.kind) {
    case Kind::NotTaken:
        v.japanese = messages::notTaken(); // the items themselves go to standard output
        break;
    case Kind::Declined:
        v.japanese = messages::declined(outcome.command);
        break;
    case Kind::Stopped:
        v.japanese = messages::stopped(outcome);
        break;
    default:
        v.japanese = outcome.command == CommandId::FindRelays ? messages::noRelayFound()
                                                              : messages::report(outcome);
        break;
    }
    // How far a command got that stopped on the line.
    const bool writing = outcome.command == CommandId::WritePage ||
                         outcome.command == CommandId::WriteAll ||
                         outcome.command == CommandId::Clear;
    if (writing && (stoppedOnTheLine(outcome.kind) || outcome.kind == Kind::Stopped))
        v.english +=
            outcome.pagesSent.isEmpty()
                ? QStringLiteral("; nothing was written")
                : QStringLiteral("; pages written before it: %1").arg(pageList(outcome.pagesSent));
    if (writing && outcome.kind == Kind::Stopped &&
        outcome.pagesSent.size() == plannedPages(outcome)) // stopped during the read-back
        v.english += QStringLiteral("; not read back, so not verified");
    if (outcome.command == CommandId::ReadAll && !outcome.pagesRead.isEmpty())
        v.english += QStringLiteral("; pages read before it: %1").arg(pageList(outcome.pagesRead));
    return v;
}

QString probeLine(const Probe &probe)
{
    switch (probe.status) {
    case Probe::Status::Relay:
        break;
    case Probe::Status::Unusable:
        return QStringLiteral("%1\t%2 (cannot open: %3)")
            .arg(probe.port, messages::linkError(LinkError::PortUnusable),
                 probe.refusal.isEmpty() ? QStringLiteral("in use by another program, or not there")
                                         : probe.refusal);
    case Probe::Status::Silent:
        return QStringLiteral("%1\t%2 (no reply within 3 s)").arg(probe.port, messages::noAnswer());
    case Probe::Status::Unreadable:
        return QStringLiteral("%1\t%2 (answers, but a read would reject the reply: %3)")
            .arg(probe.port, messages::replyProblem(probe.verdict),
                 probe.verdict == ReplyVerdict::StrayBeforeStx
                     ? QStringLiteral("bytes before its STX")
                 : probe.verdict == ReplyVerdict::BadChecksum
                     ? QStringLiteral("bad checksum")
                     : QStringLiteral("no complete reply"));
    }
    return {};
}

QString pageList(const QList<int> &pages)
{
    QStringList numbers;
    for (int page : pages)
        numbers << QString::number(page);
    return numbers.join(QStringLiteral(", "));
}

QString fileProblemNote(FileProblem problem, const QString &file, bool reading)
{
    switch (problem) {
    case FileProblem::NotRegular:
        return QStringLiteral("%1 is a device, a FIFO, a socket or a folder, not a regular file; "
                              "it was left as it was")
            .arg(file);
    case FileProblem::ReadOnly:
        return QStringLiteral("%1 is read-only; it was left as it was").arg(file);
    case FileProblem::SameAsInput:
        return QStringLiteral("%1 is one of this command's own files; it was left as it was")
            .arg(file);
    case FileProblem::None:
    case FileProblem::Unusable:
        break;
    }
    return (reading ? QStringLiteral("cannot read %1") : QStringLiteral("cannot write %1"))
        .arg(file);
}

QString savedAsUtf8Note()
{
    return QStringLiteral("saved as UTF-8? settings files are Shift-JIS");
}

} // namespace veltra::cli
