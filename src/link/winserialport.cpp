#include "link/winserialport.h"

#include "link/portdetails.h"
#include "link/winportlist.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QWinEventNotifier>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace veltra {
namespace {

// Every wait on the driver has a limit far above what a working line needs, so that a driver
// that never completes cannot freeze the window (nor keep the 3 s reply timer from firing).
// The tool's frames are at most 21 characters: 22 ms at 9600 baud.
constexpr DWORD kWriteLimitMs = 1000;
// The driver's own write time-out is longer: it ends a write that a cancellation did not.
constexpr DWORD kDriverWriteTimeoutMs = 3000;
// Reading what ClearCommError says is queued returns at once from a working driver.
constexpr DWORD kQueuedReadLimitMs = 500;
// A cancelled operation ends within microseconds on a working driver.
constexpr DWORD kCancelLimitMs = 500;
// The output queue empties once a USB adapter's chip holds the bytes.
constexpr int kOutputQueueLimitMs = 200;
// Added to a frame's own time on the wire before the handshake lines may drop.
constexpr double kWireMarginMs = 5.0;

enum class IoEnd { Done, Failed, TimedOut, Abandoned };

struct IoResult
{
    IoEnd end;
    DWORD bytes = 0;
};

// Cancels an overlapped operation and waits for it to end; false when it has not ended
// within kCancelLimitMs.
bool cancel(HANDLE handle, OVERLAPPED &overlapped)
{
    CancelIoEx(handle, &overlapped);
    return WaitForSingleObject(overlapped.hEvent, kCancelLimitMs) == WAIT_OBJECT_0;
}

// Waits at most `limitMs` for an overlapped operation to end, then cancels it. Bytes moved
// before a cancellation count. An operation that does not end even then is Abandoned.
IoResult finish(HANDLE handle, OVERLAPPED &overlapped, DWORD limitMs)
{
    const bool inTime = WaitForSingleObject(overlapped.hEvent, limitMs) == WAIT_OBJECT_0;
    if (!inTime && !cancel(handle, overlapped))
        return {IoEnd::Abandoned};
    DWORD bytes = 0;
    if (GetOverlappedResult(handle, &overlapped, &bytes, FALSE))
        return {IoEnd::Done, bytes};
    return {inTime ? IoEnd::Failed : IoEnd::TimedOut, bytes};
}

DCB readDeviceControlBlock(HANDLE handle, bool *ok)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    *ok = GetCommState(handle, &dcb);
    return dcb;
}

LineSettings lineSettingsOf(const DCB &dcb)
{
    LineSettings settings;
    settings.baudRate = int(dcb.BaudRate);
    settings.dataBits = dcb.ByteSize;
    // By Parity alone: Windows reports fParity as 0 whatever was set.
    settings.parity = dcb.Parity == NOPARITY     ? 'N'
                      : dcb.Parity == EVENPARITY ? 'E'
                      : dcb.Parity == ODDPARITY  ? 'O'
                                                 : '?';
    settings.stopBits = dcb.StopBits == ONESTOPBIT ? 1 : dcb.StopBits == TWOSTOPBITS ? 2 : 0;
    settings.flowControl = dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX ||
                           dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                           dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    return settings;
}

// How long `characters` take on the wire at what the device holds.
double wireMs(const DCB &dcb, qsizetype characters)
{
    const double stopBits = dcb.StopBits == TWOSTOPBITS    ? 2.0
                            : dcb.StopBits == ONE5STOPBITS ? 1.5
                                                           : 1.0;
    const double bits = 1.0 + dcb.ByteSize + (dcb.Parity == NOPARITY ? 0.0 : 1.0) + stopBits;
    return double(characters) * bits * 1000.0 / double(dcb.BaudRate);
}

} // namespace

// The system writes into OVERLAPPED and buffer until the operation has ended: one that does
// not end even when cancelled is left allocated (see renew) rather than freed under it.
struct WinSerialPort::Io
{
    Io() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Io()
    {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
    Io(const Io &) = delete;
    Io &operator=(const Io &) = delete;

    bool valid() const { return overlapped.hEvent != nullptr; }
    OVERLAPPED &fresh()
    {
        const HANDLE event = overlapped.hEvent;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        ResetEvent(event);
        return overlapped;
    }

    OVERLAPPED overlapped{};
    std::array<char, 512> buffer{};
    QByteArray written;
};

namespace {

// Leaves an operation that would not end to the system, with its memory, and starts afresh.
void renew(std::unique_ptr<WinSerialPort::Io> &io)
{
    (void)io.release();
    io = std::make_unique<WinSerialPort::Io>();
}

} // namespace

// The port and its opening thread each hold one; whoever lets go last closes a handle nobody
// took.
struct WinSerialPort::PendingOpen
{
    PendingOpen() : finished(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~PendingOpen()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (finished)
            CloseHandle(finished);
    }
    PendingOpen(const PendingOpen &) = delete;
    PendingOpen &operator=(const PendingOpen &) = delete;

    const HANDLE finished; // set by the thread once it is done

    std::mutex mutex; // guards what follows
    bool done = false;
    bool abandoned = false; // the port gave up waiting: the thread closes what it opened
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool latencyLookedUp = false;
    std::optional<int> latencyTimerMs;
};

namespace {

void openOnItsOwnThread(const std::shared_ptr<WinSerialPort::PendingOpen> &pending,
                        const WinSerialPort::Opener &opener, const std::wstring &path,
                        const QString &name, bool lookUpLatency)
{
    HANDLE handle = opener(path);
    // The device manager is asked here too: on a full system that takes a while.
    std::optional<int> latency;
    if (handle != INVALID_HANDLE_VALUE && lookUpLatency)
        latency = ftdiLatencyTimerMs(name);
    {
        const std::lock_guard lock(pending->mutex);
        pending->done = true;
        if (!pending->abandoned) {
            pending->handle = std::exchange(handle, INVALID_HANDLE_VALUE);
            pending->latencyLookedUp = lookUpLatency;
            pending->latencyTimerMs = latency;
        }
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    SetEvent(pending->finished);
}

HANDLE createFile(const std::wstring &path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

} // namespace

SerialPort *createDeviceSerialPort(QObject *parent)
{
    return new WinSerialPort(parent);
}

WinSerialPort::WinSerialPort(QObject *parent, Opener opener)
    : SerialPort(parent), m_read(std::make_unique<Io>()), m_queued(std::make_unique<Io>()),
      m_write(std::make_unique<Io>()), m_opener(opener ? std::move(opener) : Opener(createFile))
{
    m_readNotifier = new QWinEventNotifier(m_read->overlapped.hEvent, this);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier, &QWinEventNotifier::activated, this, &WinSerialPort::onReadCompleted);
    m_openNotifier = new QWinEventNotifier(this);
    connect(m_openNotifier, &QWinEventNotifier::activated, this, &WinSerialPort::onOpenCompleted);
    m_openLimit = new QTimer(this);
    m_openLimit->setSingleShot(true);
    m_openLimit->setTimerType(Qt::PreciseTimer);
    connect(m_openLimit, &QTimer::timeout, this, &WinSerialPort::onOpenLimit);
}

WinSerialPort::~WinSerialPort()
{
    close();
    // Before the events they watch go with m_read and m_opening.
    delete m_readNotifier;
    delete m_openNotifier;
}

QString WinSerialPort::devicePath(const QString &systemName)
{
    return QStringLiteral("\\\\.\\") + systemName;
}

bool WinSerialPort::underWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

void WinSerialPort::setPortName(const QString &systemName)
{
    m_name = systemName;
}

void WinSerialPort::setLineSettings()
{
    m_lineSettingsWanted = true;
    if (isOpen() && !configure())
        loseLine();
}

bool WinSerialPort::openable() const
{
    // Only a serial port's name reaches CreateFileW: a UNC path would connect to another
    // computer with the user's credentials, "\\.\pipe\..." to a pipe server.
    if (m_name.isEmpty() || systemPortName(m_name) != m_name)
        return false;
    return m_read->valid() && m_queued->valid() && m_write->valid();
}

bool WinSerialPort::open()
{
    abandonOpen();
    if (isOpen())
        return true;
    if (!openable())
        return false;
    const HANDLE handle = m_opener(devicePath(m_name).toStdWString());
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool lookUp = !m_latencyLookedUp.contains(m_name);
    return adopt(handle, lookUp, lookUp ? ftdiLatencyTimerMs(m_name) : std::nullopt);
}

void WinSerialPort::beginOpen()
{
    abandonOpen();
    if (isOpen() || !openable()) {
        finishOpenLater(isOpen());
        return;
    }
    auto pending = std::make_shared<PendingOpen>();
    if (!pending->finished) {
        finishOpenLater(false);
        return;
    }
    try {
        std::thread(openOnItsOwnThread, pending, m_opener, devicePath(m_name).toStdWString(),
                    m_name, !m_latencyLookedUp.contains(m_name))
            .detach();
    } catch (const std::system_error &) {
        finishOpenLater(false);
        return;
    }
    m_opening = std::move(pending);
    m_openNotifier->setHandle(m_opening->finished);
    m_openNotifier->setEnabled(true);
    m_openLimit->start(kOpenLimitMs);
}

void WinSerialPort::finishOpenLater(bool opened)
{
    // Never from inside the call: the caller connects to openFinished around it.
    QMetaObject::invokeMethod(
        this,
        [this, opened, round = m_openRound] {
            if (round == m_openRound)
                emit openFinished(opened);
        },
        Qt::QueuedConnection);
}

void WinSerialPort::onOpenCompleted()
{
    if (!m_opening)
        return;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool lookedUp = false;
    std::optional<int> latency;
    {
        const std::lock_guard lock(m_opening->mutex);
        if (!m_opening->done) // a late word of an open given up before this one
            return;
        handle = std::exchange(m_opening->handle, INVALID_HANDLE_VALUE);
        lookedUp = m_opening->latencyLookedUp;
        latency = m_opening->latencyTimerMs;
    }
    m_openNotifier->setEnabled(false);
    m_openLimit->stop();
    m_opening.reset();
    const bool opened = handle != INVALID_HANDLE_VALUE && adopt(handle, lookedUp, latency);
    emit openFinished(opened);
}

void WinSerialPort::onOpenLimit()
{
    if (!m_opening)
        return;
    bool done = false;
    {
        const std::lock_guard lock(m_opening->mutex);
        done = m_opening->done;
        m_opening->abandoned = !done;
    }
    // Done just now, its report not yet delivered: it came in time.
    if (done) {
        onOpenCompleted();
        return;
    }
    m_openNotifier->setEnabled(false);
    m_opening.reset();
    qCDebug(lcLink) << "open of" << m_name << "not done within" << kOpenLimitMs << "ms";
    emit openFinished(false);
}

void WinSerialPort::abandonOpen()
{
    ++m_openRound;
    m_openLimit->stop();
    m_openNotifier->setEnabled(false);
    const std::shared_ptr<PendingOpen> pending = std::exchange(m_opening, nullptr);
    if (!pending)
        return;
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        const std::lock_guard lock(pending->mutex);
        pending->abandoned = true;
        handle = std::exchange(pending->handle, INVALID_HANDLE_VALUE);
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

bool WinSerialPort::adopt(HANDLE handle, bool latencyLookedUp, std::optional<int> latencyTimerMs)
{
    m_handle = handle;
    // Some virtual COM drivers report FILE_TYPE_UNKNOWN: whether this is a serial line is for
    // GetCommState to say, in configure().
    const DWORD type = GetFileType(m_handle);
    if ((type != FILE_TYPE_CHAR && type != FILE_TYPE_UNKNOWN) || !configure()) {
        CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
        return false;
    }
    // Bytes that arrived before the open belong to no exchange of ours.
    PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_received.clear();
    if (!armRead()) {
        close();
        return false;
    }
    if (latencyLookedUp) {
        m_latencyLookedUp << m_name;
        if (const std::optional<LineNotice> slow =
                latencyTimerMs ? latencyTimerNotice(m_name, *latencyTimerMs) : std::nullopt)
            emit notice(*slow);
    }
    return true;
}

bool WinSerialPort::configure()
{
    bool ok = false;
    DCB dcb = readDeviceControlBlock(m_handle, &ok);
    // Only a serial line has a device control block.
    if (!ok)
        return false;
    if (m_lineSettingsWanted) {
        const LineSettings &line = kRelayLineSettings;
        dcb.BaudRate = DWORD(line.baudRate);
        dcb.ByteSize = BYTE(line.dataBits);
        dcb.Parity = line.parity == 'E' ? EVENPARITY : line.parity == 'O' ? ODDPARITY : NOPARITY;
        dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = dcb.Parity != NOPARITY;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = TRUE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        // Some virtual COM drivers refuse the whole block (error 87) when both are 0, as
        // GetCommState hands them back.
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        // Raised while open, as a POSIX tty raises them: interface boxes that draw their
        // power from the handshake lines behave the same on both systems.
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!SetCommState(m_handle, &dcb)) {
            // Wine on a pseudo-terminal refuses 7 data bits on most opens, and then sets none
            // of the rest either; 8N1 is what it holds.
            if (!underWine())
                return false;
            dcb.ByteSize = 8;
            dcb.Parity = NOPARITY;
            dcb.fParity = FALSE;
            if (!SetCommState(m_handle, &dcb))
                return false;
        }
        // A driver keeps what the last program set where it takes a setting only in part:
        // another program's 115200 8N1 or handshake would show only as "no reply".
        const DCB held = readDeviceControlBlock(m_handle, &ok);
        if (!ok)
            return false;
        const LineSettings heldLine = lineSettingsOf(held);
        LineSettings wineLine = line;
        wineLine.dataBits = 8;
        wineLine.parity = 'N';
        if (heldLine != line && !(underWine() && heldLine == wineLine))
            return false;
        if (heldLine != line && !std::exchange(m_noticeGiven, true))
            emit notice({LineNotice::Kind::EightBitsUnderWine, m_name});
    }
    return setTimeouts();
}

bool WinSerialPort::setTimeouts()
{
    // Reads wait for every byte asked for: the pending 1-byte read wakes on a reply's first
    // byte. A write the wait gave up on and could not cancel ends on the driver's time-out.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = kDriverWriteTimeoutMs;
    return SetCommTimeouts(m_handle, &timeouts);
}

bool WinSerialPort::armRead()
{
    // With read timeouts {0, 0, 0} this read ends only when a byte has come. Other ways to
    // wait were measured and rejected: "return when any byte arrives" ({MAXDWORD, MAXDWORD,
    // N}) never completes under Wine, and a pending WaitCommEvent(EV_RXCHAR) there completes
    // at once with no event, again and again.
    OVERLAPPED &overlapped = m_read->fresh();
    if (!ReadFile(m_handle, m_read->buffer.data(), 1, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    // Done at once or later, the event is set either way and the notifier reports it.
    m_readPending = true;
    m_readNotifier->setEnabled(true);
    return true;
}

bool WinSerialPort::endPendingRead()
{
    m_readNotifier->setEnabled(false);
    if (!m_readPending)
        return true;
    m_readPending = false;
    if (cancel(m_handle, m_read->overlapped))
        return true;
    renew(m_read);
    m_readNotifier->setHandle(m_read->overlapped.hEvent);
    return false;
}

bool WinSerialPort::readQueued()
{
    // Exactly as many bytes as the driver holds, so the read never waits. (Timeouts
    // {MAXDWORD, 0, 0}, documented to return at once, wait for a byte under Wine on a pty
    // when none is queued: after a reply's last character that would be forever.)
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status))
            return false;
        if (status.cbInQue == 0)
            return true;
        const DWORD wanted = std::min<DWORD>(status.cbInQue, DWORD(m_queued->buffer.size()));
        OVERLAPPED &overlapped = m_queued->fresh();
        if (!ReadFile(m_handle, m_queued->buffer.data(), wanted, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        const IoResult result = finish(m_handle, overlapped, kQueuedReadLimitMs);
        if (result.end == IoEnd::Abandoned) {
            renew(m_queued);
            return false;
        }
        m_received.append(m_queued->buffer.data(), qsizetype(result.bytes));
        if (result.end == IoEnd::Failed)
            return false;
        // A driver that reports more than it holds: what came is kept, and the pending read
        // wakes on the rest.
        if (result.end == IoEnd::TimedOut || result.bytes == 0)
            return true;
    }
}

void WinSerialPort::onReadCompleted()
{
    if (!isOpen() || !m_readPending)
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(m_handle, &m_read->overlapped, &got, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) // a late report of a read already handled
            return;
        m_readPending = false;
        // A read aborted on a port that is still there (a purge, a driver's reset) has lost
        // nothing: wait on.
        if (error == ERROR_OPERATION_ABORTED && portIsThere() && armRead())
            return;
        loseLine();
        return;
    }
    m_readPending = false;
    // Without time-outs a read ends empty only when the line has gone; re-arming would spin.
    if (got == 0) {
        loseLine();
        return;
    }
    m_received.append(m_read->buffer[0]);
    if (!readQueued() || !armRead()) {
        loseLine();
        return;
    }
    emit bytesArrived();
}

bool WinSerialPort::portIsThere() const
{
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(m_handle, &errors, &status);
}

bool WinSerialPort::isOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

void WinSerialPort::close()
{
    abandonOpen();
    if (!isOpen())
        return;
    endPendingRead();
    CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
    m_received.clear();
}

WinSerialPort::Sent WinSerialPort::writeAll(QByteArrayView bytes)
{
    // A copy the system may read for as long as the write lasts.
    m_write->written = bytes.toByteArray();
    OVERLAPPED &overlapped = m_write->fresh();
    if (!WriteFile(m_handle, m_write->written.constData(), DWORD(m_write->written.size()), nullptr,
                   &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return Sent::Failed;
    const IoResult result = finish(m_handle, overlapped, kWriteLimitMs);
    switch (result.end) {
    case IoEnd::Done:
        // A driver's own write time-out ends the write "done" with fewer bytes.
        return result.bytes == DWORD(bytes.size()) ? Sent::Whole : Sent::TimedOut;
    case IoEnd::TimedOut:
        return Sent::TimedOut;
    case IoEnd::Abandoned:
        renew(m_write);
        return Sent::TimedOut;
    case IoEnd::Failed:
        break;
    }
    return Sent::Failed;
}

void WinSerialPort::write(QByteArrayView bytes)
{
    // A request that did not leave whole gets no reply: the reply time-out then decides.
    if (isOpen() && writeAll(bytes) == Sent::Failed)
        loseLine();
}

bool WinSerialPort::writeAndDrain(QByteArrayView bytes)
{
    if (!isOpen())
        return false;
    switch (writeAll(bytes)) {
    case Sent::Whole:
        break;
    case Sent::TimedOut:
        return false;
    case Sent::Failed:
        loseLine();
        return false;
    }
    // Its answer adds nothing to the queue check that follows, which some drivers need.
    FlushFileBuffers(m_handle);
    return waitUntilOnTheWire(bytes.size());
}

bool WinSerialPort::waitUntilOnTheWire(qsizetype frameBytes)
{
    // On a USB adapter the flush ends once the chip holds the bytes, not once they have left
    // it, and closing the port then drops DTR and RTS under the frame's tail: interface boxes
    // powered from those lines lose it. The relay never answers a write, so nothing else
    // would tell. Wait for the driver's queue to empty, then for the frame's time on the wire.
    const QDeadlineTimer deadline(kOutputQueueLimitMs);
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status))
            return false;
        if (status.cbOutQue == 0)
            break;
        if (deadline.hasExpired())
            return false;
        Sleep(1);
    }
    bool ok = false;
    const DCB dcb = readDeviceControlBlock(m_handle, &ok);
    if (!ok || dcb.BaudRate == 0)
        return false;
    Sleep(DWORD(std::ceil(wireMs(dcb, frameBytes) + kWireMarginMs)));
    return true;
}

QByteArray WinSerialPort::takeReceived()
{
    return std::exchange(m_received, QByteArray());
}

void WinSerialPort::discardInput()
{
    if (!isOpen())
        return;
    // Whether a purge also ends a pending read differs between drivers (under Wine it does
    // not), so the read is ended first; a byte it took is as stale as the rest.
    if (!endPendingRead()) {
        loseLine();
        return;
    }
    PurgeComm(m_handle, PURGE_RXABORT | PURGE_RXCLEAR);
    m_received.clear();
    if (!armRead())
        loseLine();
}

std::optional<LineSettings> WinSerialPort::lineSettings() const
{
    const std::optional<DCB> dcb = deviceControlBlock();
    if (!dcb)
        return std::nullopt;
    return lineSettingsOf(*dcb);
}

std::optional<DCB> WinSerialPort::deviceControlBlock() const
{
    if (!isOpen())
        return std::nullopt;
    bool ok = false;
    const DCB dcb = readDeviceControlBlock(m_handle, &ok);
    if (!ok)
        return std::nullopt;
    return dcb;
}

void WinSerialPort::loseLine()
{
    if (!isOpen())
        return;
    close();
    emit lineLost();
}

} // namespace veltra
