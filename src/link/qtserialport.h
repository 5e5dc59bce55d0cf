#pragma once

#include "link/serialport.h"

class QSerialPort;

namespace veltra {

// The serial line over Qt SerialPort (Linux and other POSIX systems).
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
    std::optional<LineSettings> lineSettings() const override;

private:
    void onError(int error);
    void closeDevice();

    QSerialPort *m_port;
    bool m_lineSettingsWanted = false;
    bool m_lowLatencySet = false; // by us, on this open: put back on close
};

} // namespace veltra
