#include "link/qtserialport.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

#include <termios.h>

namespace veltra {
namespace {

// Generous bound for 17 characters at 9600 baud (about 18 ms): a stuck driver must
// not hang the window.
constexpr int kDrainTimeoutMs = 2000;

} // namespace

SerialPort *createSerialPort(QObject *parent)
{
    return new QtSerialPort(parent);
}

QList<PresentPort> presentPorts()
{
    QList<PresentPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QStringList words;
        for (const QString &word : {info.description(), info.manufacturer()})
            if (!word.isEmpty() && !words.contains(word))
                words << word;
        ports.append({info.systemLocation(), words.join(QStringLiteral(", "))});
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

QtSerialPort::~QtSerialPort() = default;

void QtSerialPort::setPortName(const QString &systemName)
{
    m_port->setPortName(systemName);
}

void QtSerialPort::setLineSettings()
{
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setParity(QSerialPort::EvenParity);
    m_port->setDataBits(QSerialPort::Data7);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPort::open()
{
    if (!m_port->open(QIODevice::ReadWrite))
        return false;
    // Qt 6.4 may hand back bytes that were waiting before the open.
    m_port->clear(QSerialPort::AllDirections);
    return true;
}

bool QtSerialPort::isOpen() const
{
    return m_port->isOpen();
}

void QtSerialPort::close()
{
    if (m_port->isOpen())
        m_port->close();
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
    QDeadlineTimer deadline(kDrainTimeoutMs);
    while (m_port->isOpen() && m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    if (!m_port->isOpen() || m_port->bytesToWrite() > 0)
        return false;
    // The kernel's queue must reach the wire too before the descriptor goes.
    ::tcdrain(int(m_port->handle()));
    return true;
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
    LineSettings settings;
    settings.baudRate = m_port->baudRate();
    settings.dataBits = int(m_port->dataBits());
    switch (m_port->parity()) {
    case QSerialPort::EvenParity:
        settings.parity = 'E';
        break;
    case QSerialPort::OddParity:
        settings.parity = 'O';
        break;
    case QSerialPort::NoParity:
        settings.parity = 'N';
        break;
    default:
        settings.parity = '?';
        break;
    }
    settings.stopBits = m_port->stopBits() == QSerialPort::OneStop   ? 1
                        : m_port->stopBits() == QSerialPort::TwoStop ? 2
                                                                     : 0;
    settings.flowControl = m_port->flowControl() != QSerialPort::NoFlowControl;
    return settings;
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
    m_port->close();
    emit lineLost();
}

} // namespace veltra
