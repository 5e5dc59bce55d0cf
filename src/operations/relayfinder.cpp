#include "operations/relayfinder.h"

#include "link/devicelink.h"
#include "link/frames.h"
#include "link/portlock.h"
#include "link/replycollector.h"
#include "link/serialport.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace veltra {

// One port of a search: its line and lock, its own reply time-out, what it has said, and how
// it ended. Each goes its own way through the event loop; the search waits for them all.
class PortProbe final : public QObject
{
public:
    PortProbe(RelayFinder &finder, const QString &port, std::function<void()> settled)
        : m_finder(finder), m_settled(std::move(settled))
    {
        m_probe.port = port;
        m_probe.status = Probe::Status::Unusable;
        m_deadline.setSingleShot(true);
        m_deadline.setTimerType(Qt::PreciseTimer);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            if (!m_done)
                end();
        });
    }

    // Opens `device` (nothing: a text that names no port) and asks it for the common page.
    void start(const std::optional<QString> &device, SerialPort *line)
    {
        m_line.reset(line);
        // A port another command of this tool is using gets no request amid its frames.
        if (!device || !m_lock.tryLock(*device)) {
            if (device)
                m_probe.refusal = PortLock::heldElsewhere();
            notSent();
            return;
        }
        m_line->setPortName(*device);
        m_line->setLineSettings();
        connect(m_line.get(), &SerialPort::refused, this, [this](const QString &why) {
            if (m_done)
                return;
            m_probe.refusal = why;
            if (m_probe.status == Probe::Status::Silent) { // it hung up on the request
                m_probe.status = Probe::Status::Unusable;
                gone();
            }
        });
        connect(m_line.get(), &SerialPort::lineLost, this, &PortProbe::gone);
        connect(m_line.get(), &SerialPort::bytesArrived, this, [this] {
            // Only what comes after the request is its reply.
            if (m_done || m_probe.status != Probe::Status::Silent)
                return;
            if (m_reply.feed(m_line->takeReceived()) != ReplyVerdict::Incomplete)
                end();
        });
        connect(m_line.get(), &SerialPort::openFinished, this, [this](bool opened) {
            if (m_done)
                return;
            if (opened)
                ask();
            else
                notSent();
        });
        m_line->beginOpen();
    }

    // The search ends now (the window is closing): a port still opening sent nothing.
    void stop()
    {
        if (m_done)
            return;
        if (m_probe.status == Probe::Status::Silent)
            end();
        else
            notSent();
    }

    bool done() const { return m_done; }
    const Probe &probe() const { return m_probe; }

private:
    // Once a port is open its request goes, and its own time-out runs from then: a port that
    // was slow to open (a device server far away, a driver that takes seconds) still gets the
    // whole time a read would give it.
    void ask()
    {
        const QByteArray request = readRequest(kCommonPage);
        m_probe.status = Probe::Status::Silent;
        m_line->discardInput();
        m_line->write(request);
        m_deadline.start(kReplyTimeoutMs);
        emit m_finder.requestSent(m_probe.port, request);
    }

    // Judged as a read judges it: a port whose reply a read would reject is no relay to set
    // the port field to, however close its reply comes.
    void end()
    {
        const ReplyVerdict verdict = m_reply.verdict();
        if (verdict == ReplyVerdict::Accepted) {
            DecodedRecords records;
            const QStringList texts = decodePage(kCommonPage, m_reply.bytes(), records);
            m_probe.status = Probe::Status::Relay;
            m_probe.frequency = texts.value(0);
            m_probe.station = texts.value(kStationItem);
        } else if (!m_reply.bytes().isEmpty()) {
            m_probe.status = Probe::Status::Unreadable;
            m_probe.verdict = verdict;
        }
        gone();
    }

    // Each opened line's end goes to the log once, however it ended.
    void gone()
    {
        if (m_done)
            return;
        finish();
        emit m_finder.replyReceived(m_probe.port, m_reply.bytes());
        m_settled();
    }

    void notSent()
    {
        m_probe.status = Probe::Status::Unusable;
        finish();
        emit m_finder.frameNotSent(m_probe.port, readRequest(kCommonPage));
        m_settled();
    }

    void finish()
    {
        m_done = true;
        m_deadline.stop();
        if (m_line)
            m_line->close();
    }

    RelayFinder &m_finder;
    std::function<void()> m_settled;
    Probe m_probe;
    QTimer m_deadline;
    std::unique_ptr<SerialPort> m_line;
    PortLock m_lock; // held from the open to the search's end
    ReplyCollector m_reply;
    bool m_done = false;
};

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
    std::vector<std::unique_ptr<PortProbe>> probes;
    QEventLoop loop;
    bool looping = false;
    const auto waiting = [&] {
        QStringList names;
        for (const auto &probe : probes)
            if (!probe->done())
                names << probe->probe().port;
        return names;
    };
    const auto settled = [&] {
        if (!looping)
            return;
        if (const QStringList names = waiting(); names.isEmpty())
            loop.quit();
        else
            emit stillWaiting(names);
    };

    QStringList devices;
    for (const QString &port : ports) {
        const std::optional<QString> device = systemPortName(port);
        if (device && devices.contains(*device))
            continue;
        if (device)
            devices << *device;
        probes.push_back(std::make_unique<PortProbe>(*this, port, settled));
        probes.back()->start(device, device ? m_makeLine() : nullptr);
    }

    if (!waiting().isEmpty()) {
        emit stillWaiting(waiting());
        looping = true;
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
        looping = false;
    }
    QList<Probe> found;
    for (const auto &probe : probes) {
        probe->stop();
        found << probe->probe();
    }
    return found;
}

} // namespace veltra
