#include "link/winserialport.h"

#include <QWinEventNotifier>

// The GUID definitions need initguid.h first.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <QHash>

#include <algorithm>
#include <array>

#include <string>
#include <utility>

namespace veltra {
namespace {

// Generous bound for a 17-character frame at 9600 baud (about 18 ms): a stuck driver must
// not hang the window.
constexpr DWORD kWriteTimeoutMs = 2000;

HANDLE newManualResetEvent()
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

} // namespace

SerialPort *createSerialPort(QObject *parent)
{
    return new WinSerialPort(parent);
}

namespace {

// Device names by port name, from the Ports class of the device manager.
QHash<QString, QString> portDescriptions()
{
    QHash<QString, QString> descriptions;
    const HDEVINFO devices =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return descriptions;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[256] = {};
        DWORD size = sizeof(portName) - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(portName),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named)
            continue;
        wchar_t text[512] = {};
        for (const DWORD property : {DWORD(SPDRP_FRIENDLYNAME), DWORD(SPDRP_DEVICEDESC)}) {
            if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                                  reinterpret_cast<BYTE *>(text),
                                                  sizeof(text) - sizeof(wchar_t), nullptr)) {
                descriptions.insert(QString::fromWCharArray(portName),
                                    QString::fromWCharArray(text));
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return descriptions;
}

} // namespace

QList<PresentPort> presentPorts()
{
    // Every serial port the system has a device for is named here, whatever its driver.
    QList<PresentPort> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    const QHash<QString, QString> descriptions = portDescriptions();
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256] = {};
        DWORD nameLength = 255;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString name = QString::fromWCharArray(data);
        ports.append({name, descriptions.value(name)});
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const PresentPort &a, const PresentPort &b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}

WinSerialPort::WinSerialPort(QObject *parent)
    : SerialPort(parent), m_readEvent(newManualResetEvent()), m_drainEvent(newManualResetEvent()),
      m_writeEvent(newManualResetEvent())
{
    m_readNotifier = new QWinEventNotifier(m_readEvent, this);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier, &QWinEventNotifier::activated, this, &WinSerialPort::onReadCompleted);
}

WinSerialPort::~WinSerialPort()
{
    close();
    delete m_readNotifier;
    for (HANDLE event : {m_readEvent, m_drainEvent, m_writeEvent}) {
        if (event)
            CloseHandle(event);
    }
}

QString WinSerialPort::devicePath(const QString &systemName)
{
    if (systemName.startsWith(QLatin1String("\\\\")))
        return systemName;
    return QStringLiteral("\\\\.\\") + systemName;
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

bool WinSerialPort::open()
{
    if (isOpen())
        return true;
    if (m_name.isEmpty() || !m_readEvent || !m_drainEvent || !m_writeEvent)
        return false;
    const std::wstring path = devicePath(m_name).toStdWString();
    m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    // A file or another device opened by name is no serial line.
    if (GetFileType(m_handle) != FILE_TYPE_CHAR || !configure()) {
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
    return true;
}

bool WinSerialPort::configure()
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    // Only a serial line has a device control block.
    if (!GetCommState(m_handle, &dcb))
        return false;
    if (m_lineSettingsWanted) {
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 7;
        dcb.Parity = EVENPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = TRUE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = TRUE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        // Raised while open, as a POSIX tty raises them: interface boxes that draw their
        // power from the handshake lines behave the same on both systems.
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        m_dcb = dcb;
        // A driver may refuse part of it (a pseudo-terminal under Wine cannot hold 7 data
        // bits). As with any other failure of the line within an exchange, the relay's
        // answers then decide: no reply, or a reply that fails its checksum.
        SetCommState(m_handle, &dcb);
    } else {
        m_dcb = dcb;
    }
    return setTimeouts();
}

bool WinSerialPort::setTimeouts()
{
    // Reads wait for every byte asked for, however long it takes; writes end within a bound.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    return SetCommTimeouts(m_handle, &timeouts);
}

bool WinSerialPort::armRead()
{
    // With read timeouts {0, 0, 0} this read ends only when a byte has come. Other ways to
    // wait were measured and rejected: "return when any byte arrives" ({MAXDWORD, MAXDWORD,
    // N}) never completes under Wine, and a pending WaitCommEvent(EV_RXCHAR) there completes
    // at once with no event, again and again.
    m_readOverlapped = OVERLAPPED{};
    m_readOverlapped.hEvent = m_readEvent;
    ResetEvent(m_readEvent);
    if (!ReadFile(m_handle, &m_firstByte, 1, nullptr, &m_readOverlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    // Done at once or later, the event is set either way and the notifier reports it.
    m_readPending = true;
    m_readNotifier->setEnabled(true);
    return true;
}

bool WinSerialPort::readQueued()
{
    // Exactly as many bytes as the driver holds, so the read never waits. (Timeouts
    // {MAXDWORD, 0, 0}, documented to return at once, wait for a byte under Wine on a pty
    // when none is queued: after a reply's last character that would be forever.)
    std::array<char, 512> buffer;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status))
            return false;
        if (status.cbInQue == 0)
            return true;
        const DWORD wanted = std::min<DWORD>(status.cbInQue, DWORD(buffer.size()));
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_drainEvent;
        ResetEvent(m_drainEvent);
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer.data(), wanted, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        if (!GetOverlappedResult(m_handle, &overlapped, &got, TRUE))
            return false;
        m_received.append(buffer.data(), qsizetype(got));
    }
}

void WinSerialPort::onReadCompleted()
{
    if (!isOpen() || !m_readPending)
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(m_handle, &m_readOverlapped, &got, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) // a late report of a read already handled
            return;
        m_readPending = false;
        loseLine();
        return;
    }
    m_readPending = false;
    // Without time-outs a read ends empty only when the line has gone; re-arming would spin.
    if (got == 0) {
        loseLine();
        return;
    }
    m_received.append(m_firstByte);
    if (!readQueued() || !armRead()) {
        loseLine();
        return;
    }
    emit bytesArrived();
}

bool WinSerialPort::isOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

void WinSerialPort::close()
{
    if (!isOpen())
        return;
    m_readNotifier->setEnabled(false);
    if (m_readPending) {
        CancelIoEx(m_handle, &m_readOverlapped);
        // The system owns the OVERLAPPED and the byte until the read has really ended.
        DWORD got = 0;
        GetOverlappedResult(m_handle, &m_readOverlapped, &got, TRUE);
        m_readPending = false;
    }
    CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
    m_received.clear();
}

bool WinSerialPort::writeAll(QByteArrayView bytes)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_writeEvent;
    ResetEvent(m_writeEvent);
    if (!WriteFile(m_handle, bytes.data(), DWORD(bytes.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    DWORD written = 0;
    return GetOverlappedResult(m_handle, &overlapped, &written, TRUE) &&
           written == DWORD(bytes.size());
}

void WinSerialPort::write(QByteArrayView bytes)
{
    if (isOpen() && !writeAll(bytes))
        loseLine();
}

bool WinSerialPort::writeAndDrain(QByteArrayView bytes)
{
    if (!isOpen())
        return false;
    if (!writeAll(bytes)) {
        loseLine();
        return false;
    }
    // The driver's queue must reach the wire too before the handle goes.
    FlushFileBuffers(m_handle);
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
    PurgeComm(m_handle, PURGE_RXCLEAR);
    m_received.clear();
    // A byte the pending read took before the purge is stale too.
    DWORD got = 0;
    if (m_readPending && GetOverlappedResult(m_handle, &m_readOverlapped, &got, FALSE)) {
        m_readPending = false;
        if (got == 0 || !readQueued() || !armRead()) {
            loseLine();
            return;
        }
        m_received.clear();
    }
}

std::optional<LineSettings> WinSerialPort::lineSettings() const
{
    const std::optional<DCB> dcb = deviceControlBlock();
    if (!dcb)
        return std::nullopt;
    LineSettings settings;
    settings.baudRate = int(dcb->BaudRate);
    settings.dataBits = dcb->ByteSize;
    settings.parity = !dcb->fParity || dcb->Parity == NOPARITY ? 'N'
                      : dcb->Parity == EVENPARITY              ? 'E'
                      : dcb->Parity == ODDPARITY               ? 'O'
                                                               : '?';
    settings.stopBits = dcb->StopBits == ONESTOPBIT ? 1 : dcb->StopBits == TWOSTOPBITS ? 2 : 0;
    settings.flowControl = dcb->fOutxCtsFlow || dcb->fOutxDsrFlow || dcb->fOutX || dcb->fInX ||
                           dcb->fRtsControl == RTS_CONTROL_HANDSHAKE ||
                           dcb->fDtrControl == DTR_CONTROL_HANDSHAKE;
    return settings;
}

std::optional<DCB> WinSerialPort::deviceControlBlock() const
{
    if (!isOpen())
        return std::nullopt;
    return m_dcb;
}

void WinSerialPort::loseLine()
{
    if (!isOpen())
        return;
    close();
    emit lineLost();
}

} // namespace veltra
