#include "link/qtserialport.h"

#include "link/portdetails.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <QThread>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace veltra {
namespace {

// Far above what the tool's frames (at most 21 characters, 22 ms at 9600 baud) need: a stuck
// driver must not hang the window.
constexpr int kWriteLimitMs = 1000;

// Unix 98 pseudo-terminal slaves (/dev/pts/N): devices.txt, majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    using Status = struct stat;
    Status info{};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int deviceMajor = major(info.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143;
}

std::optional<LineSettings> deviceLineSettings(int fd)
{
    termios attributes{};
    if (::tcgetattr(fd, &attributes) != 0)
        return std::nullopt;
    static constexpr std::pair<speed_t, int> kSpeeds[] = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    LineSettings settings;
    settings.baudRate = -1;
    for (const auto &[code, baud] : kSpeeds) {
        if (::cfgetospeed(&attributes) == code)
            settings.baudRate = baud;
    }
    const tcflag_t size = attributes.c_cflag & CSIZE;
    settings.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    settings.parity = !(attributes.c_cflag & PARENB)  ? 'N'
                      : (attributes.c_cflag & PARODD) ? 'O'
                                                      : 'E';
    settings.stopBits = (attributes.c_cflag & CSTOPB) ? 2 : 1;
    settings.flowControl = (attributes.c_cflag & CRTSCTS) || (attributes.c_iflag & (IXON | IXOFF));
    return settings;
}

// Asks the driver to pass received bytes on at once rather than gather them: an FTDI adapter
// otherwise holds a reply up to its latency timer (16 ms), and takes 1 ms with this flag. True
// when the flag was set here; a driver without it (a pseudo-terminal says ENOTTY) or one that
// refuses it leaves the line as it was, which works too.
bool askLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
    Q_UNUSED(fd);
    return false;
#endif
}

// The flag is the device's, not the descriptor's: it would outlast our close.
void endLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || !(serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    Q_UNUSED(fd);
#endif
}

} // namespace

SerialPort *createDeviceSerialPort(QObject *parent)
{
    return new QtSerialPort(parent);
}

QList<PresentPort> presentPorts()
{
    QList<PresentPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PresentPort port{info.systemLocation(), info.description(), info.manufacturer()};
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbId = usbIdText(info.vendorIdentifier(), info.productIdentifier());
        port.serialNumber = info.serialNumber();
        port.bluetooth = isBluetoothPort(port.name);
        ports.append(port);
    }
    std::sort(ports.begin(), ports.end(), [](const PresentPort &a, const PresentPort &b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}

QtSerialPort::QtSerialPort(QObject *parent) : SerialPort(parent), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::bytesArrived);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onError(int(error)); });
}

QtSerialPort::~QtSerialPort()
{
    close();
}

void QtSerialPort::setPortName(const QString &systemName)
{
    m_port->setPortName(systemName);
}

void QtSerialPort::setLineSettings()
{
    static_assert(kRelayLineSettings == LineSettings{9600, 7, 'E', 1, false});
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setParity(QSerialPort::EvenParity);
    m_port->setDataBits(QSerialPort::Data7);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_lineSettingsWanted = true;
}

bool QtSerialPort::open()
{
    // A pseudo-terminal holds 8 bits without parity whatever is asked, and glibc fails a
    // tcsetattr whose framing did not take unless something else changed with it. A process
    // killed mid-transaction leaves a pty with exactly the input flags Qt's open sets (IGNPAR),
    // so nothing else changes there and Qt's open fails, again and again. The port therefore
    // opens at the framing every line holds, and takes the relay's framing once open, where a
    // line that did not take it is judged below like any other setting.
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    if (!m_port->open(QIODevice::ReadWrite))
        return false;
    const int fd = int(m_port->handle());
    // A file, a pipe or another device is no serial line, whatever its name.
    if (!::isatty(fd)) {
        m_port->close();
        return false;
    }
    // A driver that cannot take a setting keeps the old one and says nothing: a port left at
    // another program's 115200 baud or handshake would show only as "no reply". A
    // pseudo-terminal holds everything but the framing (always 8 bits, no parity).
    if (m_lineSettingsWanted) {
        m_port->setDataBits(QSerialPort::Data7);
        m_port->setParity(QSerialPort::EvenParity);
        m_port->clearError();
        std::optional<LineSettings> held = deviceLineSettings(fd);
        if (held && isPseudoTerminal(fd)) {
            held->dataBits = kRelayLineSettings.dataBits;
            held->parity = kRelayLineSettings.parity;
        }
        if (held != kRelayLineSettings) {
            m_port->close();
            return false;
        }
    }
    m_lowLatencySet = askLowLatency(fd);
    // Qt 6.4 may hand back bytes that were waiting before the open.
    m_port->clear(QSerialPort::AllDirections);
    return true;
}

void QtSerialPort::closeDevice()
{
    if (std::exchange(m_lowLatencySet, false))
        endLowLatency(int(m_port->handle()));
    m_port->close();
}

bool QtSerialPort::isOpen() const
{
    return m_port->isOpen();
}

void QtSerialPort::close()
{
    if (m_port->isOpen())
        closeDevice();
}

void QtSerialPort::write(QByteArrayView bytes)
{
    if (m_port->isOpen())
        m_port->write(bytes.data(), bytes.size());
}

bool QtSerialPort::writeAndDrain(QByteArrayView bytes)
{
    if (!m_port->isOpen())
        return false;
    if (m_port->write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    // write() only queues: closing now would drop the frame.
    const QDeadlineTimer deadline(kWriteLimitMs);
    while (m_port->isOpen() && m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    if (!m_port->isOpen() || m_port->bytesToWrite() > 0)
        return false;
    // The kernel's queue must reach the wire too before the descriptor goes. tcdrain has no
    // limit of its own, so it comes only once the driver's queue is empty, which a stuck
    // adapter never gets.
    const int fd = int(m_port->handle());
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && !deadline.hasExpired())
        QThread::msleep(1);
    if (queued != 0)
        return false;
    int drained = -1;
    do // a signal the command line catches must not pass for a line that failed
        drained = ::tcdrain(fd);
    while (drained != 0 && errno == EINTR);
    return drained == 0;
}

QByteArray QtSerialPort::takeReceived()
{
    return m_port->isOpen() ? m_port->readAll() : QByteArray();
}

void QtSerialPort::discardInput()
{
    if (m_port->isOpen())
        m_port->clear(QSerialPort::Input);
}

std::optional<LineSettings> QtSerialPort::lineSettings() const
{
    if (!m_port->isOpen())
        return std::nullopt;
    return deviceLineSettings(int(m_port->handle()));
}

void QtSerialPort::onError(int error)
{
    // A successful open reports NoError; a lost line repeats its error endlessly while
    // the port stays open, so close on the first one and say it once.
    const bool lost = error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
                      error == QSerialPort::ResourceError || error == QSerialPort::UnknownError;
    if (!lost || !m_port->isOpen())
        return;
    m_port->clearError();
    closeDevice();
    emit lineLost();
}

} // namespace veltra
