#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <optional>

class QSerialPort;

namespace veltra {

// The serial line exactly as the link uses it. One implementation over QSerialPort;
// tests put the simulated relay on the other side of a pseudo-terminal.
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
    // Queues bytes; they leave while the event loop runs.
    virtual void write(QByteArrayView bytes) = 0;
    // Writes and returns only when every byte has left the UART (or the line failed).
    virtual bool writeAndDrain(QByteArrayView bytes) = 0;
    virtual QByteArray takeReceived() = 0;
    virtual void discardInput() = 0;

signals:
    void bytesArrived();
    // The line failed while open (adapter pulled, peer hung up). Emitted once; the port is
    // closed by then.
    void lineLost();
};

// The port field's text as a device: "3" is the third port of the platform (COM3,
// /dev/ttyS2), any other non-empty text is a device name as it stands.
std::optional<QString> systemPortName(const QString &fieldText);

class QtSerialPort final : public SerialPort
{
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr);
    ~QtSerialPort() override;

    void setPortName(const QString &systemName) override;
    void setLineSettings() override;
    bool open() override;
    bool isOpen() const override;
    void close() override;
    void write(QByteArrayView bytes) override;
    bool writeAndDrain(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    void discardInput() override;

    const QSerialPort &device() const { return *m_port; }

private:
    void onError(int error);

    QSerialPort *m_port;
};

} // namespace veltra
