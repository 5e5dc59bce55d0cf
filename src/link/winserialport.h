#pragma once

#include "link/serialport.h"

#include <qt_windows.h>

class QWinEventNotifier;

namespace veltra {

// The serial line over the Win32 communications API. One overlapped 1-byte read stays
// pending while the port is open; its event wakes the event loop when the first byte of a
// reply arrives, and whatever else is queued is then read at once. Nothing polls.
class WinSerialPort final : public SerialPort
{
    Q_OBJECT
public:
    explicit WinSerialPort(QObject *parent = nullptr);
    ~WinSerialPort() override;

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

    // The framing and handshake lines the open port was set up with; nothing while closed.
    std::optional<DCB> deviceControlBlock() const;

    // The path CreateFileW opens: "COM3" becomes "\\.\COM3", so COM10 and above work too.
    static QString devicePath(const QString &systemName);

private:
    bool configure();
    bool setTimeouts();
    bool armRead();
    bool readQueued();
    void onReadCompleted();
    bool writeAll(QByteArrayView bytes);
    void loseLine();

    QString m_name;
    bool m_lineSettingsWanted = false;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_readEvent = nullptr;
    HANDLE m_drainEvent = nullptr;
    HANDLE m_writeEvent = nullptr;
    DCB m_dcb{};
    OVERLAPPED m_readOverlapped{};
    char m_firstByte = 0;
    bool m_readPending = false;
    QWinEventNotifier *m_readNotifier = nullptr;
    QByteArray m_received;
};

} // namespace veltra
