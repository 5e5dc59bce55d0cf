#include "link/devicelink.h"

#include "link/frames.h"
#include "link/portlock.h"
#include "link/replycollector.h"
#include "link/serialport.h"

#include <QEventLoop>

#include <optional>

namespace veltra {

namespace {

const char *verdictName(ReplyVerdict verdict)
{
    switch (verdict) {
    case ReplyVerdict::Incomplete:
        return "incomplete";
    case ReplyVerdict::Accepted:
        return "accepted";
    case ReplyVerdict::StrayBeforeStx:
        return "stray byte before STX";
    case ReplyVerdict::BadChecksum:
        return "checksum error";
    }
    return "";
}

} // namespace

DeviceLink::DeviceLink(SerialPort &port, QObject *parent) : QObject(parent), m_port(port)
{
    m_timer1.setTimerType(Qt::PreciseTimer);
    m_timer1.setSingleShot(true);
    m_timer2.setTimerType(Qt::PreciseTimer);
    m_timer2.setSingleShot(true);
    connect(&m_timer1, &QTimer::timeout, this, [this] {
        m_pacingTickFlag = true;
        wake();
    });
    connect(&m_timer2, &QTimer::timeout, this, [this] {
        m_replyTimedOut = true;
        wake();
    });
    connect(&m_port, &SerialPort::bytesArrived, this, &DeviceLink::wake);
    connect(&m_port, &SerialPort::lineLost, this, [this] {
        m_lineLost = true;
        wake();
    });
    connect(&m_port, &SerialPort::refused, this, [this](const QString &why) {
        m_refused = true;
        m_refusal = why;
        wake();
    });
    connect(&m_port, &SerialPort::receiveError, this, [this] { m_receiveError = true; });
}

DeviceLink::~DeviceLink() = default;

bool DeviceLink::isPortOpen() const
{
    return m_port.isOpen();
}

void DeviceLink::closePort()
{
    closeLine();
}

void DeviceLink::closeLine()
{
    m_port.close();
    if (!m_holdLocks)
        m_locks.clear();
}

void DeviceLink::holdPortLocks(bool hold)
{
    m_holdLocks = hold;
    if (!hold && !m_port.isOpen())
        m_locks.clear();
}

bool DeviceLink::lockPort(const QString &device)
{
    const QString name = PortLock::canonicalName(device);
    for (const std::unique_ptr<PortLock> &lock : m_locks)
        if (lock->name() == name)
            return true;
    auto lock = std::make_unique<PortLock>();
    if (!lock->tryLock(device))
        return false;
    m_locks.push_back(std::move(lock));
    return true;
}

void DeviceLink::abortWaits()
{
    m_aborted = true;
    wake();
}

void DeviceLink::wake()
{
    if (m_loop)
        m_loop->quit();
}

void DeviceLink::sleepUntilWoken()
{
    // Every wake source (bytes, timers, a lost line, an abort) is an event, so nothing can
    // slip in between the caller's last check and exec().
    QEventLoop loop;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
}

bool DeviceLink::OpenPort(const QString &device)
{
    if (m_port.isOpen())
        return true;
    if (device.isEmpty())
        return false;
    m_lineLost = false;
    m_refused = false;
    m_refusal.clear();
    if (!lockPort(device)) {
        m_refusal = PortLock::heldElsewhere();
        qCDebug(lcLink) << "cannot open" << device << m_refusal;
        return false;
    }
    m_port.setPortName(device);
    m_port.setLineSettings();
    // Waited for in the event loop: a port over the network may take its time to connect.
    std::optional<bool> opened;
    const QMetaObject::Connection finished =
        connect(&m_port, &SerialPort::openFinished, this, [this, &opened](bool ok) {
            opened = ok;
            wake();
        });
    m_port.beginOpen();
    while (!opened && !m_aborted)
        sleepUntilWoken();
    disconnect(finished);
    if (!opened.value_or(false)) {
        qCDebug(lcLink) << "cannot open" << device << m_refusal;
        closeLine();
        return false;
    }
    return true;
}

void DeviceLink::addressStation()
{
    emit stationAddressed(kStationAddress.toByteArray());
}

LinkError DeviceLink::ReadTransaction(int page, const QString &device)
{
    if (!OpenPort(device)) {
        emit frameNotSent(readRequest(page));
        return LinkError::PortUnusable;
    }
    m_timer1.stop();
    m_timer2.stop();
    m_timer1.setInterval(kPacingMs);
    m_timer2.setInterval(kReplyTimeoutMs);
    m_pacingTickFlag = false;
    m_replyTimedOut = false;
    addressStation();

    const QByteArray request = readRequest(page);
    m_timer2.start();
    emit requestSent(request);
    // Bytes already waiting belong to no reply of ours. Dropped before the request goes, so
    // that a relay answering at once is never dropped with them, whether or not write()
    // returns before the request has left.
    m_port.discardInput();
    m_port.write(request);
    m_lastReply.clear();

    ReplyCollector reply;
    const auto collect = [&] { return reply.feed(m_port.takeReceived()); };
    m_receiveError = false;
    auto ended = [&] { return m_replyTimedOut || m_lineLost || m_refused || m_aborted; };

    collect();
    while (!reply.complete() && !ended()) {
        sleepUntilWoken();
        collect();
    }
    // What arrived with the time-out still counts.
    const ReplyVerdict verdict = collect();
    const QByteArray &collected = reply.bytes();
    emit replyReceived(collected);
    m_timer2.stop();
    qCDebug(lcLink) << device << "page" << page << "sent" << request << "received" << collected
                    << verdictName(verdict);

    // A server that hung up before the reply was whole serves another client: the port is in
    // use, as a local one held by another program would be.
    if (verdict == ReplyVerdict::Incomplete && m_refused) {
        closeLine();
        return LinkError::PortUnusable;
    }
    if (verdict == ReplyVerdict::Incomplete) {
        m_replyTimedOut = false;
        closeLine();
        return LinkError::NoReply;
    }
    m_lastReply = collected;
    if (verdict != ReplyVerdict::Accepted || m_receiveError) {
        closeLine();
        return LinkError::DataError;
    }
    closeLine();
    pacingPause();
    return LinkError::None;
}

void DeviceLink::pacingPause()
{
    m_pacingTickFlag = false;
    m_timer1.start(kPacingMs);
    while (!m_pacingTickFlag && !m_aborted)
        sleepUntilWoken();
    m_timer1.stop();
    m_pacingTickFlag = false;
}

FrameSent DeviceLink::SendWriteFrame(const QByteArray &frame, const QString &device)
{
    // The result says how it fared; the link error is the read transaction's alone.
    if (!OpenPort(device)) {
        emit frameNotSent(frame);
        return FrameSent::PortUnusable;
    }
    addressStation();
    // No reply is read; the frame must still leave whole before the port closes.
    const bool sent = m_port.writeAndDrain(frame) && !m_refused;
    closeLine();
    qCDebug(lcLink) << device << "write frame" << frame << (sent ? "left" : "did not leave");
    emit writeFrameSent(frame, sent);
    if (sent)
        return FrameSent::Sent;
    return m_refused ? FrameSent::PortUnusable : FrameSent::LineFailed;
}

} // namespace veltra
