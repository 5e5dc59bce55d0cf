// A soak run of the command line's read: many read-alls in one process against the simulated
// relay (9600 baud wire time), watching resident memory, open file descriptors and the CPU
// each read-all costs. Rows of the benchmark table on stdout (see benchtable.h).
//
//   bench_cli_soak [--runs N]     200 read-alls by default

#include "benchtable.h"
#include "cli/cli.h"
#include "relaysim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sys/resource.h>

using namespace veltra;

namespace {

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024.0 / 1e6;
    return -1;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs)
                   .size());
}

struct Cpu
{
    double user = 0;
    double system = 0;
};

Cpu cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {double(usage.ru_utime.tv_sec) * 1e3 + double(usage.ru_utime.tv_usec) / 1e3,
            double(usage.ru_stime.tv_sec) * 1e3 + double(usage.ru_stime.tv_usec) / 1e3};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 200;
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--runs")); at > 0 && at + 1 < args.size())
        runs = std::max(11, args[at + 1].toInt());

    test::RelaySim sim;
    if (!sim.start({QStringLiteral("--wire-time")})) {
        std::fprintf(stderr, "bench_cli_soak: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    cli::Console console;
    qsizetype lines = 0;
    console.out = [&lines](const QByteArray &text) { lines += text.count('\n'); };
    console.err = [](const QByteArray &text) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    };
    const QStringList read{QStringLiteral("read"), QStringLiteral("--port"), sim.portPath()};

    double rssAfterTen = 0;
    int fdsAfterTen = 0;
    const int fdsBefore = openDescriptors();
    Cpu cpuAfterTen;
    QElapsedTimer clock;
    qint64 wallAfterTen = 0;
    clock.start();
    for (int run = 1; run <= runs; ++run) {
        lines = 0;
        if (cli::run(read, console) != cli::kSuccess || lines != 47) {
            std::fprintf(stderr, "bench_cli_soak: read-all %d failed\n", run);
            return 1;
        }
        if (run == 10) {
            rssAfterTen = residentMb();
            fdsAfterTen = openDescriptors();
            cpuAfterTen = cpuMs();
            wallAfterTen = clock.elapsed();
        }
    }
    const double rssEnd = residentMb();
    const int fdsEnd = openDescriptors();
    const Cpu cpuEnd = cpuMs();
    const double userPerRead = (cpuEnd.user - cpuAfterTen.user) / (runs - 10);
    const double systemPerRead = (cpuEnd.system - cpuAfterTen.system) / (runs - 10);
    const double cpuPerRead = userPerRead + systemPerRead;
    const double wallPerRead = double(clock.elapsed() - wallAfterTen) / (runs - 10);

    using namespace veltra::bench;
    const double growth = rssEnd - rssAfterTen;
    row(format("veltra-cli soak: resident memory growth over read-alls 11..%.0f", runs),
        format("%.2f MB (%.1f MB after 10, %.1f MB after all)", growth, rssAfterTen, rssEnd),
        "< 1 MB", format("%.2f", growth / 1.0), verdict(growth < 1.0));
    row("veltra-cli soak: open file descriptors",
        format("%.0f before, %.0f after 10, %.0f after all", fdsBefore, fdsAfterTen, fdsEnd),
        "constant", "", verdict(fdsAfterTen == fdsEnd && fdsBefore == fdsEnd));
    row("veltra-cli soak: CPU per read-all",
        format("%.1f ms CPU in %.0f ms (%.2f %% of one core)", cpuPerRead, wallPerRead,
               100.0 * cpuPerRead / wallPerRead),
        "(information)", "", "");
    row("veltra-cli soak: of which in the kernel",
        format("%.1f ms system, %.1f ms user", systemPerRead, userPerRead), "(information)", "",
        "");
    definition(format("veltra-cli soak: %.0f read-alls of all nine pages in one process through "
                      "the command line's own code (cli::run), against the simulated relay with "
                      "--wire-time; memory is VmRSS, descriptors are the entries of "
                      "/proc/self/fd, CPU is getrusage user+sys; growth and CPU are taken over "
                      "the runs after the first 10.",
                      runs));
    return 0;
}
