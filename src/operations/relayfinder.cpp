#include "operations/relayfinder.h"

#include "link/devicelink.h"
#include "link/frames.h"
#include "link/serialport.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace veltra {
namespace {

// One port under test: its line, what it has said so far, and how it ended.
struct Attempt
{
    Probe probe;
    std::unique_ptr<SerialPort> line;
    QByteArray collected;
    bool done = false;
};

// Judged as a read judges it: a port whose reply a read would reject is no relay to set the
// port field to, however close its reply comes.
void conclude(Attempt &attempt)
{
    attempt.done = true;
    const ReplyVerdict verdict = judgeReply(attempt.collected);
    if (verdict == ReplyVerdict::Accepted) {
        DecodedRecords records;
        const QStringList texts = decodePage(kCommonPage, attempt.collected, records);
        attempt.probe.status = Probe::Status::Relay;
        attempt.probe.frequency = texts.value(0);
        attempt.probe.station = texts.value(kStationItem);
    } else if (!attempt.collected.isEmpty()) {
        attempt.probe.status = Probe::Status::Unreadable;
        attempt.probe.verdict = verdict;
    }
    if (attempt.line)
        attempt.line->close();
}

} // namespace

RelayFinder::RelayFinder(LineFactory makeLine, QObject *parent)
    : QObject(parent), m_makeLine(std::move(makeLine))
{
    if (!m_makeLine)
        m_makeLine = [] { return createSerialPort(nullptr); };
}

RelayFinder::~RelayFinder() = default;

void RelayFinder::abort()
{
    if (m_loop)
        m_loop->quit();
}

QList<Probe> RelayFinder::find(const QStringList &ports)
{
    std::vector<std::unique_ptr<Attempt>> attempts;
    QStringList devices;
    QEventLoop loop;
    auto allDone = [&] {
        return std::all_of(attempts.begin(), attempts.end(),
                           [](const auto &attempt) { return attempt->done; });
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The time-out runs from the first request, as one read transaction's would.
    deadline.start(kReplyTimeoutMs);

    for (const QString &port : ports) {
        const std::optional<QString> device = systemPortName(port);
        if (device && devices.contains(*device))
            continue;
        auto attempt = std::make_unique<Attempt>();
        attempt->probe.port = port;
        attempt->probe.status = Probe::Status::Unusable;
        if (!device) {
            attempt->done = true;
            attempts.push_back(std::move(attempt));
            continue;
        }
        devices << *device;
        attempt->line.reset(m_makeLine());
        SerialPort &line = *attempt->line;
        line.setPortName(*device);
        line.setLineSettings();
        if (!line.open()) {
            line.close();
            attempt->done = true;
            attempts.push_back(std::move(attempt));
            continue;
        }
        attempt->probe.status = Probe::Status::Silent;
        Attempt *a = attempt.get();
        connect(&line, &SerialPort::bytesArrived, &loop, [a, &loop, &allDone] {
            if (a->done)
                return;
            const QByteArray chunk = a->line->takeReceived();
            a->collected += chunk.first(std::min(chunk.size(), kMaxReplyBytes - a->collected.size()));
            if (judgeReply(a->collected) != ReplyVerdict::Incomplete)
                conclude(*a);
            if (allDone())
                loop.quit();
        });
        connect(&line, &SerialPort::lineLost, &loop, [a, &loop, &allDone] {
            a->done = true;
            if (allDone())
                loop.quit();
        });
        line.discardInput();
        line.write(readRequest(kCommonPage));
        attempts.push_back(std::move(attempt));
    }

    if (!allDone()) {
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    QList<Probe> probes;
    for (const auto &attempt : attempts) {
        if (!attempt->done)
            conclude(*attempt);
        probes << attempt->probe;
    }
    return probes;
}

} // namespace veltra
