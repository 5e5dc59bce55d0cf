#include "cli/outcomes.h"

#include "cli/cli.h"
#include "operations/messages.h"
#include "settings/items.h"

#include <QStringList>

#include <algorithm>

namespace veltra::cli {
namespace {

using Kind = Outcome::Kind;

QString note(const Outcome &outcome, Kind kind, const NoteContext &context)
{
    Outcome asKind = outcome;
    asKind.kind = kind;
    const OutcomeMeaning row = messages::meaningOf(asKind);
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

Verdict verdict(const Outcome &outcome, const NoteContext &context)
{
    const OutcomeMeaning meaning = messages::meaningOf(outcome);
    Verdict v;
    v.exit = meaning.exit;
    v.english = note(outcome, outcome.kind, context);
    v.japanese = meaning.terminal.isEmpty() ? meaning.message : meaning.terminal;
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

namespace {
// Best to worst.
constexpr int kSiteOrder[] = {kSuccess,      kDifferences,  kDeclined, kNotVerified, kFileError,
                              kWrongStation, kRelaysUnread, kInvalid,  kStopped};
} // namespace

void SiteVerdict::raise(int code)
{
    const auto at = std::find(std::begin(kSiteOrder), std::end(kSiteOrder), code);
    m_rank = std::max(m_rank, int(at - std::begin(kSiteOrder)));
}

void SiteVerdict::add(const RelayCheck &check)
{
    switch (check.status) {
    case RelayCheck::Status::Match:
        return raise(kSuccess);
    case RelayCheck::Status::Differs:
        return raise(kDifferences);
    case RelayCheck::Status::WrongStation:
        return raise(kWrongStation);
    case RelayCheck::Status::NoReply:
    case RelayCheck::Status::DataError:
    case RelayCheck::Status::PortUnusable:
        return raise(kRelaysUnread);
    case RelayCheck::Status::NotReached:
        return raise(kStopped);
    case RelayCheck::Status::DesignInvalid:
        return raise(kInvalid);
    }
}

void SiteVerdict::add(const RelayWrite &write)
{
    switch (write.status) {
    case RelayWrite::Status::Verified:
        return raise(kSuccess);
    case RelayWrite::Status::NotTaken:
        return raise(kDifferences);
    case RelayWrite::Status::NotVerified:
        return raise(kNotVerified);
    case RelayWrite::Status::WriteFailed:
        return raise(kRelaysUnread);
    case RelayWrite::Status::Refused:
        return raise(write.outcome.kind == Outcome::Kind::WrongStation ? kWrongStation
                                                                       : kRelaysUnread);
    case RelayWrite::Status::HistoryUnsaved:
        return raise(kFileError);
    case RelayWrite::Status::LeftAlone:
        return add(write.check);
    case RelayWrite::Status::NotReached:
        return raise(kStopped);
    }
}

void SiteVerdict::addDeclined()
{
    raise(kDeclined);
}

int SiteVerdict::exitCode() const
{
    return kSiteOrder[m_rank];
}

} // namespace veltra::cli
