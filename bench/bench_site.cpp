// A site's check against one read-all's floor: relays on ports of their own are read at the
// same time, so a site of many should take about as long as a single relay.

#include "benchtable.h"
#include "knownfile.h"
#include "link/devicelink.h"
#include "processcpu.h"
#include "relaysim.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "site/sitecheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace veltra;
using namespace veltra::test;
using namespace veltra::bench;

namespace {

constexpr double kTargetRatio = 1.15;

bool failed(const QString &what)
{
    std::fprintf(stderr, "bench_site: %s\n", qPrintable(what));
    return false;
}

// A line of /proc/self/status such as "VmHWM:  12345 kB", in MB; -1 when it is not there.
double statusMb(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Starts the peak resident size afresh, so that each site size has a peak of its own.
bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

struct SiteRuns
{
    std::vector<double> wall, cpu;
    double rssBeforeMb = 0, peakMb = 0;
    bool peakReset = false;
    int requestChars = 0, replyChars = 0;
};

// `count` simulated relays holding the design's values, each on its own line with wire time;
// one check to warm up and `runs` counted, every relay required to match.
bool measure(int count, int runs, const QString &design, int station, SiteRuns &out)
{
    std::vector<std::unique_ptr<RelaySim>> sims;
    QList<SiteRelay> site;
    for (int i = 0; i < count; ++i) {
        auto sim = std::make_unique<RelaySim>();
        if (!sim->start({QStringLiteral("--wire-time"), QStringLiteral("--settings"), design}))
            return failed(QStringLiteral("a simulated relay did not start: ") + sim->errorString());
        SiteRelay relay;
        relay.line = i + 2; // below the header
        relay.tag = QStringLiteral("R%1").arg(i + 1);
        relay.port = sim->portPath();
        relay.station = station;
        relay.design = QStringLiteral("design.DT");
        relay.designPath = design;
        site << relay;
        sims.push_back(std::move(sim));
    }
    SiteChecker checker;
    QObject::connect(
        &checker, &SiteChecker::requestSent,
        [&](const QString &, const QByteArray &frame) { out.requestChars = int(frame.size()); });
    QObject::connect(
        &checker, &SiteChecker::replyReceived,
        [&](const QString &, const QByteArray &reply) { out.replyChars = int(reply.size()); });
    out.peakReset = resetPeak();
    out.rssBeforeMb = statusMb("VmRSS");
    for (int run = 0; run <= runs; ++run) {
        const double cpuBefore = processCpuMs();
        QElapsedTimer timer;
        timer.start();
        const QList<RelayCheck> results = checker.check(site);
        const double wallMs = double(timer.nsecsElapsed()) / 1e6;
        const double cpuMs = processCpuMs() - cpuBefore;
        for (const RelayCheck &result : results)
            if (result.status != RelayCheck::Status::Match)
                return failed(QStringLiteral("%1 on %2 did not match its design (status %3)")
                                  .arg(result.relay.tag, result.relay.port)
                                  .arg(int(result.status)));
        if (results.size() != count)
            return failed(QStringLiteral("the check did not answer for every relay"));
        if (run == 0) // the first run warms caches
            continue;
        out.wall.push_back(wallMs);
        out.cpu.push_back(100.0 * cpuMs / wallMs);
    }
    out.peakMb = statusMb("VmHWM");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Counted runs."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    parser.addOption(runsOption);
    parser.addHelpOption();
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    // One design for every relay, as the tool saves it; the simulators start from it too.
    QTemporaryDir dir;
    const QString design = dir.filePath(QStringLiteral("design.DT"));
    QFile file(design);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) ||
        file.write(kKnownFile) != kKnownFile.size()) {
        failed(QStringLiteral("the design file could not be written"));
        return 1;
    }
    file.close();
    MemoryFields fields;
    if (!loadDesign(design, fields)) {
        failed(QStringLiteral("the design file does not load"));
        return 1;
    }
    const int station = fields.setValue(kCommonPage, kStationItem).toInt();

    SiteRuns site;
    double floor = 0;
    for (const int count : {16, 32}) {
        site = {};
        if (!measure(count, runs, design, station, site))
            return 1;
        floor = readAllFloorMs(kPageCount, site.requestChars, site.replyChars, 0, kPacingMs);
        const std::string name = format("site check, %.0f relays: ", count);
        row(name + "wall time / one read-all's floor",
            format("%.1f ms median, %.1f ms max", median(site.wall), maximum(site.wall)),
            format("floor %.1f ms; target ≤ %.2f", floor, kTargetRatio),
            format("%.3f median, %.3f max", median(site.wall) / floor, maximum(site.wall) / floor),
            verdict(maximum(site.wall) / floor <= kTargetRatio));
        row(name + "CPU / wall",
            format("%.2f %% median, %.2f %% max", median(site.cpu), maximum(site.cpu)),
            "(information)", "", "");
        row(name + "peak RSS",
            format("%.1f MB, %.1f MB above the RSS before the first check", site.peakMb,
                   site.peakMb - site.rssBeforeMb),
            site.peakReset ? "(information)" : "(information; peak not restarted)", "", "");
    }
    definition(format("site check: wall time of one SiteChecker::check over N simulated relays, "
                      "each on its own pseudo-terminal with --wire-time and started from the "
                      "design file every row names (station %.0f), %.0f runs after one warm-up; "
                      "every relay must match. ",
                      station, runs) +
               format("Floor = one read-all's, as bench_link's: 9 pages × ((%.0f request + "
                      "%.0f reply characters) × %.4f ms + 100 ms pause) = ",
                      site.requestChars, site.replyChars, kCharMs) +
               format("%.1f ms; the verdict goes by the slowest run.", floor));
    definition("site check CPU / wall: getrusage(RUSAGE_SELF) user+sys of the checking process "
               "over the check's wall time, as % of one core; the simulators are not counted.");
    definition("site check peak RSS: VmHWM of the checking process after the counted runs, "
               "restarted (clear_refs 5) once the simulators were up, and its rise over VmRSS "
               "at that moment, the warm-up included.");
    return 0;
}
