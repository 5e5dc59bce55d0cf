// The relay search against its floor: every port gets its read request at once, so a search
// lasts one reply time-out however many ports stay silent, and a search where every port
// answers lasts about one reply.

#include "benchtable.h"
#include "link/devicelink.h"
#include "operations/relayfinder.h"
#include "relaysim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>
#include <vector>

using namespace veltra;
using namespace veltra::test;
using namespace veltra::bench;

namespace {

constexpr double kTargetMs = 3500.0; // what the operator is promised

bool failed(const char *what)
{
    std::fprintf(stderr, "bench_find: %s\n", what);
    return false;
}

// `answering` relays and `silent` ones, each on its own line, emulating wire time.
bool measure(int runs, int answering, int silent, std::vector<double> &wall)
{
    std::vector<std::unique_ptr<RelaySim>> sims;
    QStringList ports;
    for (int i = 0; i < answering + silent; ++i) {
        auto sim = std::make_unique<RelaySim>();
        QStringList args{QStringLiteral("--wire-time")};
        if (i >= answering)
            args << QStringLiteral("--fault") << QStringLiteral("no-reply");
        if (!sim->start(args))
            return failed("a simulated relay did not start");
        ports << sim->portPath();
        sims.push_back(std::move(sim));
    }
    RelayFinder finder;
    for (int run = 0; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<Probe> probes = finder.find(ports);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        const auto found = std::count_if(probes.begin(), probes.end(), [](const Probe &p) {
            return p.status == Probe::Status::Relay;
        });
        if (found != answering)
            return failed("the search did not find the relays that answer");
        if (run > 0) // the first run warms caches
            wall.push_back(ms);
    }
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
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    // One reply: the 12-character request and the 21-character reply on the wire.
    const double replyFloor = (12 + 21) * kCharMs;
    std::vector<double> answered, mixed;
    if (!measure(runs, 8, 0, answered) || !measure(runs, 1, 7, mixed))
        return 1;
    row("relay search, 8 ports all answering",
        format("%.1f ms median, %.1f ms max", median(answered), maximum(answered)),
        format("floor %.1f ms (one reply)", replyFloor),
        format("%.1f median", median(answered) / replyFloor), "(information)");
    row("relay search, 8 ports, 7 of them silent",
        format("%.1f ms median, %.1f ms max", median(mixed), maximum(mixed)),
        format("floor %.0f ms (the reply time-out); target <= %.0f ms", kReplyTimeoutMs, kTargetMs),
        format("%.3f median, %.3f max", median(mixed) / kReplyTimeoutMs,
               maximum(mixed) / kReplyTimeoutMs),
        verdict(maximum(mixed) <= kTargetMs));
    definition("Relay search: every port opened and sent the common page's read request at once, "
               "all replies awaited together; a silent port costs the one shared 3 s time-out, "
               "not 3 s of its own.");
    return 0;
}
