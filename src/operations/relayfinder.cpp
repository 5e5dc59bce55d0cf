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
    auto waiting = [&] {
        QStringList ports;
        for (const auto &attempt : attempts)
            if (!attempt->done)
                ports << attempt->probe.port;
        return ports;
    };
    // Each opened line's end goes to the log once, however it ended.
    auto ended = [this, &loop, &allDone, &waiting](Attempt &a) {
        emit replyReceived(a.probe.port, a.collected);
        if (allDone())
            loop.quit();
        else
            emit stillWaiting(waiting());
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
            emit frameNotSent(port, readRequest(kCommonPage));
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
            emit frameNotSent(port, readRequest(kCommonPage));
            attempt->done = true;
            attempts.push_back(std::move(attempt));
            continue;
        }
        attempt->probe.status = Probe::Status::Silent;
        Attempt *a = attempt.get();
        connect(&line, &SerialPort::bytesArrived, &loop, [a, &ended] {
            if (a->done)
                return;
            const QByteArray chunk = a->line->takeReceived();
            a->collected +=
                chunk.first(std::min(chunk.size(), kMaxReplyBytes - a->collected.size()));
            if (judgeReply(a->collected) != ReplyVerdict::Incomplete) {
                conclude(*a);
                ended(*a);
            }
        });
        connect(&line, &SerialPort::lineLost, &loop, [a, &ended] {
            if (a->done)
                return;
            a->done = true;
            ended(*a);
        });
        line.discardInput();
        const QByteArray request = readRequest(kCommonPage);
        line.write(request);
        emit requestSent(port, request);
        attempts.push_back(std::move(attempt));
    }

    if (!allDone()) {
        emit stillWaiting(waiting());
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    QList<Probe> probes;
    for (const auto &attempt : attempts) {
        if (!attempt->done) {
            conclude(*attempt);
            emit replyReceived(attempt->probe.port, attempt->collected);
        }
        probes << attempt->probe;
    }
    return probes;
}

} // namespace veltra
