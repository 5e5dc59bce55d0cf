// veltra-cli site check, site write and site report: every relay of a plant against its design
// file, at once where the ports allow, written only where it differs, with an append-only site
// log beside the site file, and the commissioning record made from what was read.

#include "cli/outcomes.h"
#include "cli/runner.h"
#include "file/filenames.h"
#include "site/sitecheck.h"
#include "site/sitefile.h"
#include "site/sitelog.h"
#include "site/siterecord.h"
#include "site/sitewrite.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace veltra::cli {
namespace {

using Status = RelayCheck::Status;
using WriteStatus = RelayWrite::Status;

// What a line of output says after the status.
QString detail(const RelayCheck &check)
{
    const QString read =
        check.stationRead ? messages::stationText(*check.stationRead) : QStringLiteral("-");
    switch (check.status) {
    case Status::Match:
        return QStringLiteral("station %1, fingerprint %2")
            .arg(read, shownFingerprint(check.relayFingerprint));
    case Status::Differs:
        return QStringLiteral("station %1, %2 item%3 differ from %4")
            .arg(read)
            .arg(check.differences.size())
            .arg(check.differences.size() == 1 ? "" : "s")
            .arg(check.relay.design);
    case Status::WrongStation:
        return QStringLiteral("station %1 answered on %2, not %3: not compared")
            .arg(read, check.relay.port, messages::stationText(check.relay.station));
    case Status::NoReply:
        return QStringLiteral("no reply on %1").arg(check.relay.port);
    case Status::DataError:
        return QStringLiteral("a reply on %1 that a read rejects").arg(check.relay.port);
    case Status::PortUnusable:
        return check.refusal.isEmpty()
                   ? QStringLiteral("cannot open %1").arg(check.relay.port)
                   : QStringLiteral("cannot open %1: %2").arg(check.relay.port, check.refusal);
    case Status::NotReached:
        return QStringLiteral("stopped before it was checked");
    case Status::DesignInvalid:
        return QStringLiteral("%1 is missing or cannot be written: not asked")
            .arg(check.relay.design);
    }
    Q_UNREACHABLE();
}

QString writeDetail(const RelayWrite &w)
{
    const QString history = QDir::toNativeSeparators(w.historyPath);
    const int changes = int(w.check.differences.size());
    switch (w.status) {
    case WriteStatus::Verified:
        return QStringLiteral("%1 item%2 written and read back; before: %3")
            .arg(changes)
            .arg(changes == 1 ? "" : "s", history);
    case WriteStatus::NotTaken:
        return QStringLiteral("written; %1 item%2 not taken as written; before: %3")
            .arg(w.outcome.notTaken.size())
            .arg(w.outcome.notTaken.size() == 1 ? "" : "s", history);
    case WriteStatus::NotVerified:
        return QStringLiteral("written, the read-back failed; before: %1").arg(history);
    case WriteStatus::WriteFailed:
        return QStringLiteral("a frame did not leave: written up to page %1 only; before: %2")
            .arg(w.outcome.page)
            .arg(history);
    case WriteStatus::Refused:
        return QStringLiteral("the link check refused it, nothing written: %1")
            .arg(verdict(w.outcome, {w.check.relay.port, w.check.relay.design, false}).english);
    case WriteStatus::HistoryUnsaved:
        return QStringLiteral("nothing written: %1")
            .arg(fileProblemNote(w.historyProblem, w.historyPath));
    case WriteStatus::LeftAlone:
        return QStringLiteral("%1: %2").arg(siteStatusWord(w.check.status), detail(w.check));
    case WriteStatus::NotReached:
        return QStringLiteral("stopped before it was written");
    }
    Q_UNREACHABLE();
}

QString engineerName(const QCommandLineParser &parser)
{
    return parser.isSet(QStringLiteral("engineer")) ? parser.value(QStringLiteral("engineer"))
                                                    : systemUserName();
}

QJsonObject checkJson(const RelayCheck &c)
{
    QJsonArray differences;
    for (const ItemDifference &d : c.differences)
        differences.append(QJsonObject{{"page", d.page},
                                       {"label", rowLabel(pageKind(d.page), d.item)},
                                       {"design", d.design},
                                       {"relay", d.relay}});
    const auto orNull = [](const std::optional<QString> &text) {
        return text ? QJsonValue(*text) : QJsonValue();
    };
    return QJsonObject{{"tag", c.relay.tag},
                       {"port", c.relay.port},
                       {"station_expected", messages::stationText(c.relay.station)},
                       {"station_read", c.stationRead
                                            ? QJsonValue(messages::stationText(*c.stationRead))
                                            : QJsonValue()},
                       {"fingerprint_design", orNull(c.designFingerprint)},
                       {"fingerprint_relay", orNull(c.relayFingerprint)},
                       {"differences", differences},
                       {"status", siteStatusWord(c.status)}};
}

} // namespace

// What a site command shares: the site file read, the relays chosen, the site log open.
struct Runner::SiteRun
{
    SiteFile site;
    QList<SiteRelay> chosen;
    SiteLog log;
    QString engineer;
};

std::optional<int> Runner::openSite(const QCommandLineParser &parser, SiteRun &run)
{
    const QString path = parser.positionalArguments().value(1);
    run.site = readSiteFile(path);
    if (!run.site.problems.isEmpty()) {
        for (const SiteProblem &problem : run.site.problems)
            err(QStringLiteral("%1\t%2\t%3\n")
                    .arg(problem.line)
                    .arg(problem.column, siteProblemText(problem)));
        // The relays the file names well but for their designs, as any run reports a relay.
        QList<RelayCheck> unfit;
        for (const SiteRelay &relay : run.site.relays)
            if (!relay.designValid) {
                RelayCheck check;
                check.relay = relay;
                check.status = Status::DesignInvalid;
                unfit << check;
            }
        printChecks(unfit, parser.isSet(QStringLiteral("json")));
        return fail(kInvalid, QStringLiteral("サイトファイルに誤りがあります。"),
                    QStringLiteral("%1: the site file or a design file it names is not right; "
                                   "nothing was sent")
                        .arg(path));
    }
    run.chosen = run.site.relays;
    if (const QStringList tags = parser.values(QStringLiteral("tag")); !tags.isEmpty()) {
        for (const QString &tag : tags)
            if (std::none_of(run.site.relays.begin(), run.site.relays.end(),
                             [&](const SiteRelay &relay) { return relay.tag == tag; }))
                return usage(QStringLiteral("%1 has no relay named '%2'").arg(path, tag));
        run.chosen.clear();
        for (const SiteRelay &relay : run.site.relays)
            if (tags.contains(relay.tag))
                run.chosen << relay;
    }
    const QString logPath = siteLogPath(path);
    if (const FileProblem problem = run.log.open(logPath); problem != FileProblem::None)
        return fail(kFileError, messages::logSaveFailed(),
                    fileProblemNote(problem, logPath) + QStringLiteral("; nothing was sent"));
    run.engineer = engineerName(parser);
    return std::nullopt;
}

void Runner::printChecks(const QList<RelayCheck> &checks, bool json) const
{
    // In file order, whichever relay answered first: what a script compares run after run.
    if (json) {
        QJsonArray array;
        for (const RelayCheck &c : checks)
            array.append(checkJson(c));
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        return;
    }
    for (const RelayCheck &c : checks)
        out(QStringLiteral("%1\t%2\t%3\n").arg(c.relay.tag, siteStatusWord(c.status), detail(c)));
}

QList<RelayCheck> Runner::checkSite(SiteRun &run)
{
    SiteChecker checker(m_console.serialPort);
    if (StopRequests *stops = m_console.stops)
        QObject::connect(stops, &StopRequests::requested, &checker, &SiteChecker::stop);
    if (m_frameLog)
        m_frameLog->follow(checker);
    QObject::connect(&checker, &SiteChecker::relayChecked, &checker,
                     [&](const RelayCheck &c) { run.log.append(checkLogEntry(c, run.engineer)); });
    return checker.check(run.chosen);
}

int Runner::siteLogFailure(const SiteRun &run, int code) const
{
    if (run.log.complete())
        return code;
    const int failed =
        fail(kFileError, messages::logSaveFailed(),
             QStringLiteral("the site log could not all be written to %1").arg(run.log.path()));
    return code == kSuccess ? failed : code;
}

int Runner::siteCheck(const QCommandLineParser &parser)
{
    SiteRun run;
    if (const std::optional<int> refused = openSite(parser, run))
        return *refused;
    const QList<RelayCheck> results = checkSite(run);
    printChecks(results, parser.isSet(QStringLiteral("json")));
    SiteVerdict verdict;
    for (const RelayCheck &c : results)
        verdict.add(c);
    return siteLogFailure(run, verdict.exitCode());
}

int Runner::siteWrite(const QCommandLineParser &parser)
{
    SiteRun run;
    if (const std::optional<int> refused = openSite(parser, run))
        return *refused;
    const QList<RelayCheck> checks = checkSite(run);
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool stopped = m_console.stops && m_console.stops->isRequested();

    QList<RelayCheck> toWrite;
    for (const RelayCheck &c : checks)
        if (needsWrite(c))
            toWrite << c;
    bool declined = false;
    if (!toWrite.isEmpty() && !stopped)
        declined = confirmation(parser, messages::siteWriteQuestion(toWrite) +
                                            QStringLiteral(" [y/N] "))() != kAnswerYes;

    SiteWriter writer(m_console.serialPort);
    if (StopRequests *stops = m_console.stops)
        QObject::connect(stops, &StopRequests::requested, &writer, &SiteWriter::stop);
    if (m_frameLog)
        QObject::connect(&writer, &SiteWriter::linkOpened, &writer,
                         [this](const DeviceLink &link, const QString &port) {
                             m_frameLog->follow(link, port);
                         });
    QObject::connect(&writer, &SiteWriter::relayWritten, &writer, [&](const RelayWrite &w) {
        for (const SiteLogEntry &entry : writeLogEntries(w, run.engineer))
            run.log.append(entry);
    });
    QList<RelayWrite> writes;
    if (declined || stopped) {
        for (const RelayCheck &c : checks) {
            RelayWrite w;
            w.check = c;
            w.status = stopped && needsWrite(c) ? WriteStatus::NotReached : WriteStatus::LeftAlone;
            writes << w;
        }
    } else {
        writes = writer.write(checks, siteHistoryFolder(run.site.path));
    }

    const SiteWriteCounts counts = countWrites(writes);
    if (json) {
        QJsonArray array;
        for (const RelayWrite &w : writes) {
            QJsonObject object = checkJson(w.check);
            object.insert("write", siteWriteWord(w.status));
            object.insert("history",
                          w.historyPath.isEmpty() ? QJsonValue() : QJsonValue(w.historyPath));
            object.insert("fingerprint_after",
                          w.fingerprintAfter ? QJsonValue(*w.fingerprintAfter) : QJsonValue());
            array.append(object);
        }
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    } else {
        for (const RelayWrite &w : writes)
            out(QStringLiteral("%1\t%2\t%3\n")
                    .arg(w.check.relay.tag, siteWriteWord(w.status), writeDetail(w)));
    }
    err(QStringLiteral("written %1, verified %2, left alone %3, not reached %4\n")
            .arg(counts.written)
            .arg(counts.verified)
            .arg(counts.leftAlone)
            .arg(counts.notReached));

    SiteVerdict verdict;
    for (const RelayWrite &w : writes)
        verdict.add(w);
    if (declined) {
        verdict.addDeclined();
        err(m_noTerminal ? QStringLiteral("no terminal to ask on; nothing was written\n")
                         : QStringLiteral("not confirmed; nothing was written\n"));
    }
    return siteLogFailure(run, verdict.exitCode());
}

int Runner::siteReport(const QCommandLineParser &parser)
{
    const QString target = parser.value(QStringLiteral("o"));
    if (target.isEmpty())
        return usage(QStringLiteral("site report needs -o RECORD.pdf"));
    SiteRun run;
    if (const std::optional<int> refused = openSite(parser, run))
        return *refused;
    for (const SiteRelay &relay : run.site.relays)
        if (sameFile(target, relay.designPath))
            return fail(kFileError, messages::pdfSaveFailed(),
                        fileProblemNote(FileProblem::SameAsInput, target) +
                            QStringLiteral("; nothing was sent"));

    SiteRecord record;
    record.sitePath = run.site.path;
    record.engineer = run.engineer;
    // Read before the check appends to it: the record's own lines are no earlier work.
    record.log = readSiteLog(run.log.path());
    record.checks = checkSite(run);
    record.created = QDateTime::currentDateTime();
    printChecks(record.checks, false);
    SiteVerdict verdict;
    for (const RelayCheck &c : record.checks)
        verdict.add(c);
    int code = verdict.exitCode();
    // The record is what was asked for: without it the check's verdict is not the answer.
    if (const FileProblem problem = saveSiteRecordPdf(record, target); problem != FileProblem::None)
        code = fail(kFileError, messages::pdfSaveFailed(), fileProblemNote(problem, target));
    return siteLogFailure(run, code);
}

} // namespace veltra::cli
