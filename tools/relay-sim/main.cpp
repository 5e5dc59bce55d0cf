// veltra-relay-sim: a simulated VELTRA relay on a pseudo-terminal. The first line of standard
// output is the path of the line to open; see README.md in this folder for the options.

#include "relaymodel.h"
#include "relaysimulator.h"
#include "replyfaults.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop through a pipe; a handler may do nothing else safely.
bool installSignalPipe()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A closed standard output (log "-") must not kill the relay.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "veltra-relay-sim: %s\n", qPrintable(text));
    std::exit(2);
}

int intOption(const QCommandLineParser &parser, const QString &name, int min, int max)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < min || value > max)
        usageError(
            QStringLiteral("--%1 needs a whole number from %2 to %3").arg(name).arg(min).arg(max));
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltra-relay-sim"));

    using veltra::sim::ReadFault;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated VELTRA relay on a pseudo-terminal. Prints the line's path as "
                       "the first line of standard output."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("settings"), QStringLiteral("Start from the settings in a .DT file."),
         QStringLiteral("FILE")},
        {QStringLiteral("log"),
         QStringLiteral("Log every received frame as JSON lines to FILE (- for standard output)."),
         QStringLiteral("FILE")},
        {QStringLiteral("wire-time"),
         QStringLiteral(
             "Pace requests and replies as 9600 baud 7E1 would (1.0417 ms a character).")},
        {QStringLiteral("delay"), QStringLiteral("Turnaround before a reply starts (default 0)."),
         QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("fault"),
         QStringLiteral("Spoil read replies: %1.")
             .arg(veltra::sim::readFaultNames().join(QStringLiteral(", "))),
         QStringLiteral("KIND")},
        {QStringLiteral("fault-page"), QStringLiteral("Apply the fault to reads of page N only."),
         QStringLiteral("N")},
        {QStringLiteral("fault-count"),
         QStringLiteral("Apply the fault to the first N matching reads only."),
         QStringLiteral("N")},
        {QStringLiteral("flood-seconds"), QStringLiteral("Length of a garbage flood (default 4)."),
         QStringLiteral("S"), QStringLiteral("4")},
        {QStringLiteral("hangup-after-writes"),
         QStringLiteral("Close the line and exit after accepting N write frames (B0..B8)."),
         QStringLiteral("N")},
        {QStringLiteral("ignore-write"),
         QStringLiteral("Accept writes of page P but keep the old value of its item I "
                        "(repeatable)."),
         QStringLiteral("P:I")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    veltra::sim::SimOptions options;
    options.logPath = parser.value(QStringLiteral("log"));
    options.wireTime = parser.isSet(QStringLiteral("wire-time"));
    options.delayMs = intOption(parser, QStringLiteral("delay"), 0, 60'000);
    if (parser.isSet(QStringLiteral("fault"))) {
        const auto fault = veltra::sim::readFaultFromName(parser.value(QStringLiteral("fault")));
        if (!fault) {
            usageError(QStringLiteral("unknown fault %1; known: %2")
                           .arg(parser.value(QStringLiteral("fault")),
                                veltra::sim::readFaultNames().join(QStringLiteral(", "))));
        }
        options.fault = *fault;
    }
    if (parser.isSet(QStringLiteral("fault-page")))
        options.faultPage = intOption(parser, QStringLiteral("fault-page"), 0, 8);
    if (parser.isSet(QStringLiteral("fault-count")))
        options.faultCount = intOption(parser, QStringLiteral("fault-count"), 1, 1'000'000);
    bool ok = false;
    options.floodSeconds = parser.value(QStringLiteral("flood-seconds")).toDouble(&ok);
    if (!ok || options.floodSeconds <= 0 || options.floodSeconds > 600)
        usageError(QStringLiteral("--flood-seconds needs a number of seconds from 0 to 600"));
    if (parser.isSet(QStringLiteral("hangup-after-writes")))
        options.hangupAfterWrites =
            intOption(parser, QStringLiteral("hangup-after-writes"), 1, 1'000'000);

    veltra::sim::RelayModel model;
    if (parser.isSet(QStringLiteral("settings"))) {
        QString error;
        if (!model.loadSettingsFile(parser.value(QStringLiteral("settings")), &error))
            usageError(QStringLiteral("cannot use the settings file %1").arg(error));
    }

    for (const QString &value : parser.values(QStringLiteral("ignore-write"))) {
        const QStringList parts = value.split(u':');
        bool pageOk = false, itemOk = false;
        const int page = parts.value(0).toInt(&pageOk);
        const int item = parts.value(1).toInt(&itemOk);
        const int items = page == 0 ? 7 : 5;
        if (parts.size() != 2 || !pageOk || !itemOk || page < 0 || page > 8 || item < 0 ||
            item >= items)
            usageError(QStringLiteral("--ignore-write needs PAGE:ITEM, page 0..8 and an item of "
                                      "that page, not %1")
                           .arg(value));
        model.ignoreWrittenItem(page, item);
    }

    if (!installSignalPipe()) {
        std::perror("veltra-relay-sim: pipe2");
        return 1;
    }

    veltra::sim::RelaySimulator simulator(options, model);
    QString error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "veltra-relay-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(simulator.portPath()));
    std::fflush(stdout);

    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        simulator.stop();
        app.exit(0);
    });
    QObject::connect(&simulator, &veltra::sim::RelaySimulator::finished, &app,
                     [&app](int code) { app.exit(code); });
    return app.exec();
}
