#include "operations/relayfinder.h"

#include "link/devicelink.h"
#include "link/frames.h"
#include "link/portlock.h"
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
    QTimer deadline; // its own reply time-out; also the context of its connections
    std::unique_ptr<SerialPort> line;
    PortLock lock; // held from the open to the search's end
    QByteArray collected;
    bool done = false;

    Attempt()
    {
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
    }
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
    bool looping = false;
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
    auto settled = [&] {
        if (!looping)
            return;
        if (allDone())
            loop.quit();
        else
            emit stillWaiting(waiting());
    };
    // Each opened line's end goes to the log once, however it ended.
    auto ended = [this, &settled](Attempt &a) {
        emit replyReceived(a.probe.port, a.collected);
        settled();
    };
    const QByteArray request = readRequest(kCommonPage);
    auto notSent = [this, &request, &settled](Attempt &a) {
        a.probe.status = Probe::Status::Unusable;
        a.done = true;
        if (a.line)
            a.line->close();
        emit frameNotSent(a.probe.port, request);
        settled();
    };
    // Once a port is open its request goes, and its own time-out runs from then: a port that
    // was slow to open (a device server far away, a driver that takes seconds) still gets
    // the whole time a read would give it.
    auto opened = [this, &request, &ended](Attempt &a) {
        Attempt *p = &a;
        SerialPort &line = *a.line;
        connect(&line, &SerialPort::bytesArrived, &a.deadline, [p, &ended] {
            if (p->done)
                return;
            const QByteArray chunk = p->line->takeReceived();
            p->collected +=
                chunk.first(std::min(chunk.size(), kMaxReplyBytes - p->collected.size()));
            if (judgeReply(p->collected) != ReplyVerdict::Incomplete) {
                conclude(*p);
                ended(*p);
            }
        });
        auto gone = [p, &ended] {
            if (p->done)
                return;
            p->done = true;
            ended(*p);
        };
        connect(&line, &SerialPort::lineLost, &a.deadline, gone);
        connect(&line, &SerialPort::refused, &a.deadline, [p, gone] {
            if (!p->done)
                p->probe.status = Probe::Status::Unusable;
            gone();
        });
        connect(&a.deadline, &QTimer::timeout, &a.deadline, [p, &ended] {
            if (p->done)
                return;
            conclude(*p);
            ended(*p);
        });
        a.probe.status = Probe::Status::Silent;
        line.discardInput();
        line.write(request);
        a.deadline.start(kReplyTimeoutMs);
        emit requestSent(a.probe.port, request);
    };

    for (const QString &port : ports) {
        const std::optional<QString> device = systemPortName(port);
        if (device && devices.contains(*device))
            continue;
        auto attempt = std::make_unique<Attempt>();
        attempt->probe.port = port;
        attempt->probe.status = Probe::Status::Unusable;
        Attempt &a = *attempt;
        attempts.push_back(std::move(attempt));
        if (!device) {
            notSent(a);
            continue;
        }
        devices << *device;
        // A port another command of this tool is using gets no request amid its frames.
        if (!a.lock.tryLock(*device)) {
            a.probe.refusal = PortLock::heldElsewhere();
            notSent(a);
            continue;
        }
        a.line.reset(m_makeLine());
        a.line->setPortName(*device);
        a.line->setLineSettings();
        connect(a.line.get(), &SerialPort::refused, &a.deadline, [&a](const QString &why) {
            if (!a.done)
                a.probe.refusal = why;
        });
        connect(a.line.get(), &SerialPort::openFinished, &a.deadline,
                [&a, &opened, &notSent](bool ok) {
                    if (a.done)
                        return;
                    if (ok)
                        opened(a);
                    else
                        notSent(a);
                });
        a.line->beginOpen();
    }

    if (!allDone()) {
        emit stillWaiting(waiting());
        looping = true;
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
        looping = false;
    }
    QList<Probe> probes;
    for (const auto &attempt : attempts) {
        if (!attempt->done) {
            // Ended early (the window is closing): a port still opening sent nothing.
            const bool sent = attempt->probe.status == Probe::Status::Silent;
            conclude(*attempt);
            if (sent)
                emit replyReceived(attempt->probe.port, attempt->collected);
            else
                emit frameNotSent(attempt->probe.port, request);
        }
        probes << attempt->probe;
    }
    return probes;
}

} // namespace veltra
