#pragma once

#include "link/portdetails.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace veltra {

// What the link does on the wire, for a developer: QT_LOGGING_RULES="veltra.link.debug=true".
// Info and above are shown by default.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// A line's framing and handshake, as a device holds them.
struct LineSettings
{
    int baudRate = 0;
    int dataBits = 0;
    char parity = 'N'; // 'N', 'E' or 'O'
    int stopBits = 0;
    bool flowControl = true;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// What the relay's line runs at: 9600 baud, 7 data bits, even parity, 1 stop bit, no flow
// control.
inline constexpr LineSettings kRelayLineSettings{9600, 7, 'E', 1, false};

// The serial line exactly as the link uses it: over QSerialPort on Linux, over the Win32
// communications API on Windows. Tests put the simulated relay on the other side of a
// pseudo-terminal (under Wine, mapped to a COM port).
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setPortName(const QString &systemName) = 0;
    // kRelayLineSettings, set on the device at the next open (or now, when open). An open
    // fails when the device does not hold them afterwards.
    virtual void setLineSettings() = 0;
    virtual bool open() = 0;
    // Opens without holding up the caller: openFinished() follows from the event loop, never
    // from inside this call, and within the backend's own limit. A local device opens here and
    // now; a port over the network connects meanwhile. close() abandons an open under way.
    virtual void beginOpen();
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Sends bytes without waiting for them to reach the wire.
    virtual void write(QByteArrayView bytes) = 0;
    // Writes and returns only when every byte has left the UART (or the line failed).
    virtual bool writeAndDrain(QByteArrayView bytes) = 0;
    virtual QByteArray takeReceived() = 0;
    virtual void discardInput() = 0;
    // What the device itself holds while open, read back from it; nothing while closed.
    virtual std::optional<LineSettings> lineSettings() const = 0;

signals:
    void openFinished(bool opened);
    void bytesArrived();
    // The line failed while open (adapter pulled, peer hung up). Emitted once; the port is
    // closed by then.
    void lineLost();
    // The far end would not serve the line (a device server that hung up on us before the relay
    // said anything); the port is closed by then. `why` is the server's own text, where it gave
    // one, never the relay's bytes; else the system's words.
    void refused(const QString &why);
    // The line reported a parity, framing or overrun error in what it received: whatever
    // arrived around it cannot be trusted.
    void receiveError();
    // Something the operator should know about the line that is no failure (the port runs
    // other framing than asked because the system cannot set it). Emitted once per port; the
    // edges put it in words and, where the link's log category is on, on stderr too.
    void notice(const veltra::LineNotice &notice);
};

// A serial line behind a serial device server: `socket://HOST:PORT` carries the bytes as they
// are over TCP, `rfc2217://HOST:PORT` is Telnet with the COM-PORT-OPTION. HOST is a name, an
// IPv4 address or a bracketed IPv6 address.
struct NetworkAddress
{
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    QString host; // without brackets
    quint16 port = 0;

    friend bool operator==(const NetworkAddress &, const NetworkAddress &) = default;
};

// The address a port name gives, or nothing when it is no network port's name (a device, or a
// malformed address).
std::optional<NetworkAddress> networkAddress(QStringView name);

// The port field's text as a device, or nothing (and then nothing is opened) when it names
// no serial port. A network port's name comes back in one spelling (the scheme in lower
// case); any other text of the form "scheme://..." names nothing, so that it never reaches
// the file system. The text is trimmed and NFKC-normalised first, so that a full-width "３"
// typed through an IME means 3. A number n is the platform's n-th port (COMn, /dev/ttyS<n-1>).
// On Windows only "COMn" and "\\.\COMn" in any letter case, or a name the system lists as a
// serial port, name one (as "COMn" or the listed name); on Linux any other text is a device.
std::optional<QString> systemPortName(const QString &fieldText);

// The Windows rule of systemPortName alone, given the names the system lists under
// HARDWARE\DEVICEMAP\SERIALCOMM. A pure function, so that both systems test it.
std::optional<QString> windowsPortName(const QString &fieldText, const QStringList &listedNames);

// A line that opens whatever its name names: a network port by its scheme, else the
// platform's serial port.
SerialPort *createSerialPort(QObject *parent);

// The platform's serial line alone.
SerialPort *createDeviceSerialPort(QObject *parent);

// A serial port the system knows right now.
// What the system does not know stays empty: three identical adapters differ by serial number.
struct PresentPort
{
    QString name;           // what the port field takes: /dev/ttyUSB0, COM3
    QString description{};  // the driver's or the device's own words
    QString manufacturer{}; // as the device or its driver names its maker
    QString usbId{};        // a USB device's "VID:PID", as usbIdText
    QString serialNumber{}; // the device's own; none where the system made one up
    bool bluetooth = false; // on a Bluetooth link: opening it may take seconds
    // An FTDI adapter's latency timer (Windows, from its driver's settings).
    std::optional<int> latencyTimerMs{};

    friend bool operator==(const PresentPort &, const PresentPort &) = default;
};

// COM2 before COM10, /dev/ttyS2 before /dev/ttyS10.
bool portNameLess(const QString &a, const QString &b);

// The serial ports present now, in portNameLess order (ports made on the fly, such as
// pseudo-terminals, are not listed).
QList<PresentPort> presentPorts();

} // namespace veltra
