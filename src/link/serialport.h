#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace veltra {

// The settings a port was set up with. A pseudo-terminal runs 8N1 whatever is set, so tests
// check the settings here rather than on the wire.
struct LineSettings
{
    int baudRate = 0;
    int dataBits = 0;
    char parity = 'N'; // 'N', 'E' or 'O'
    int stopBits = 0;
    bool flowControl = true;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// The serial line exactly as the link uses it: over QSerialPort on Linux, over the Win32
// communications API on Windows. Tests put the simulated relay on the other side of a
// pseudo-terminal (under Wine, mapped to a COM port).
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setPortName(const QString &systemName) = 0;
    // 9600 baud, even parity, 7 data bits, 1 stop bit, no flow control; nothing else.
    virtual void setLineSettings() = 0;
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Sends bytes without waiting for them to reach the wire.
    virtual void write(QByteArrayView bytes) = 0;
    // Writes and returns only when every byte has left the UART (or the line failed).
    virtual bool writeAndDrain(QByteArrayView bytes) = 0;
    virtual QByteArray takeReceived() = 0;
    virtual void discardInput() = 0;
    // What the open port was set up with; nothing while it is closed.
    virtual std::optional<LineSettings> lineSettings() const = 0;

signals:
    void bytesArrived();
    // The line failed while open (adapter pulled, peer hung up). Emitted once; the port is
    // closed by then.
    void lineLost();
};

// The port field's text as a device: "3" is the third port of the platform (COM3,
// /dev/ttyS2), any other non-empty text is a device name as it stands.
std::optional<QString> systemPortName(const QString &fieldText);

// The platform's serial line.
SerialPort *createSerialPort(QObject *parent);

// A serial port the system knows right now.
struct PresentPort
{
    QString name;        // what the port field takes: /dev/ttyUSB0, COM3
    QString description; // the driver's or the device's own words; may be empty

    friend bool operator==(const PresentPort &, const PresentPort &) = default;
};

// COM2 before COM10, /dev/ttyS2 before /dev/ttyS10.
bool portNameLess(const QString &a, const QString &b);

// The serial ports present now, in portNameLess order (ports made on the fly, such as
// pseudo-terminals, are not listed).
QList<PresentPort> presentPorts();

} // namespace veltra
