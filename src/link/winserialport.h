#pragma once

#include "link/serialport.h"

#include <qt_windows.h>

#include <functional>
#include <memory>
#include <string>

class QTimer;
class QWinEventNotifier;

namespace veltra {

// The link's own messages (defined with the platform-neutral part, in serialport.cpp).

// The serial line over the Win32 communications API. One overlapped 1-byte read stays
// pending while the port is open; its event wakes the event loop when the first byte of a
// reply arrives, and whatever else is queued is then read at once. Nothing polls, and no
// wait on the driver lasts longer than its named limit.
class WinSerialPort final : public SerialPort
{
    Q_OBJECT
public:
    // What opens the device: CreateFileW on the path. Tests put a driver that keeps the caller
    // waiting in its place.
    using Opener = std::function<HANDLE(const std::wstring &path)>;

    explicit WinSerialPort(QObject *parent = nullptr, Opener opener = {});
    ~WinSerialPort() override;

    void setPortName(const QString &systemName) override;
    void setLineSettings() override;
    bool open() override;
    // CreateFileW runs on a thread of its own: some virtual COM drivers (Bluetooth ones) keep
    // it for seconds. An open not done within kOpenLimitMs fails; a handle that comes later
    // is closed there and never used.
    void beginOpen() override;
    bool isOpen() const override;
    void close() override;
    void write(QByteArrayView bytes) override;
    bool writeAndDrain(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    void discardInput() override;
    std::optional<LineSettings> lineSettings() const override;

    // The device control block the open port holds, read back from the driver; nothing
    // while closed.
    std::optional<DCB> deviceControlBlock() const;

    // The path CreateFileW opens: "\\.\" and the name, so COM10 and above work too.
    static QString devicePath(const QString &systemName);

    // Whether this program runs under Wine rather than Windows.
    static bool underWine();

    // An overlapped operation's OVERLAPPED, event and buffer.
    struct Io;
    // An open running on its own thread, shared with that thread.
    struct PendingOpen;

    static constexpr int kOpenLimitMs = 3000;

private:
    enum class Sent { Whole, TimedOut, Failed };

    bool openable() const;
    bool adopt(HANDLE handle, bool latencyLookedUp, std::optional<int> latencyTimerMs);
    void onOpenCompleted();
    void onOpenLimit();
    void abandonOpen();
    void finishOpenLater(bool opened);
    bool configure();
    bool setTimeouts();
    bool armRead();
    bool endPendingRead();
    bool readQueued();
    void onReadCompleted();
    Sent writeAll(QByteArrayView bytes);
    bool waitUntilOnTheWire(qsizetype frameBytes);
    bool portIsThere() const;
    void loseLine();

    QString m_name;
    bool m_lineSettingsWanted = false;
    bool m_noticeGiven = false;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::unique_ptr<Io> m_read; // the pending 1-byte read
    std::unique_ptr<Io> m_queued;
    std::unique_ptr<Io> m_write;
    bool m_readPending = false;
    QWinEventNotifier *m_readNotifier = nullptr;
    QByteArray m_received;
    Opener m_opener;
    std::shared_ptr<PendingOpen> m_opening;
    QWinEventNotifier *m_openNotifier = nullptr;
    QTimer *m_openLimit = nullptr;
    quint64 m_openRound = 0;       // a close or a new open ends a round: its reports are void
    QStringList m_latencyLookedUp; // ports whose adapter's latency timer was read once
};

} // namespace veltra
