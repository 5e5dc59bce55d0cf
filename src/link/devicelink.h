#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class QEventLoop;

namespace veltra {

class PortLock;
class SerialPort;

// How a read transaction ended, by its established numbers. Returned, never kept: a stale one
// could make a later success read as the old failure.
enum class LinkError : int {
    None = 0,
    NoReply = 1,   // no STX..CR within the time-out, or the line was lost
    DataError = 2, // the reply failed the checksum test
    PortUnusable = 3,
};

// How a write frame fared. The relay never answers one: this is only whether it left.
enum class FrameSent {
    Sent,
    PortUnusable, // the port would not open; nothing was sent
    LineFailed,   // the port opened but the frame did not leave whole
};

inline constexpr int kReplyTimeoutMs = 3000;
inline constexpr int kPacingMs = 100;

// One relay on one serial line. Every exchange opens the port, sends one frame and closes
// it again. Waits run a nested event loop woken by arriving bytes and precise timers, so
// the window stays live and the CPU idles. It knows nothing of settings or windows: the port
// is named by the caller, and what goes over the line is told by signals.
class DeviceLink : public QObject
{
    Q_OBJECT
public:
    explicit DeviceLink(SerialPort &port, QObject *parent = nullptr);
    ~DeviceLink() override;

    // Opens `device` (a system port name; empty names none, which is a port that cannot be
    // used), sends the read request for page 0..8 and collects the reply into LastReply.
    LinkError ReadTransaction(int page, const QString &device);
    // Sends a write or clear frame (built by BuildWriteFrame when the write was confirmed) on
    // `device` and closes the port once every byte has left.
    FrameSent SendWriteFrame(const QByteArray &frame, const QString &device);
    // The 100 ms pause between frames.
    void pacingPause();

    // Why the far end would not serve the line, in its own words (a device server's "Port
    // already in use"); empty when it said nothing or the last open did not end so.
    const QString &refusal() const { return m_refusal; }
    const QByteArray &lastReply() const { return m_lastReply; }

    bool isPortOpen() const;
    void closePort();

    // Each port is locked against other processes from its open to its close; while held, from
    // its first open until the hold ends, so that a command's frames are never interleaved with
    // another tool's. A port another process holds is a port that cannot be used.
    void holdPortLocks(bool hold);

    // Ends the current wait at once (the window is closing); later waits end at once too.
    void abortWaits();

signals:
    // Every transaction addresses the relay by its station address ("FF") first.
    void stationAddressed(const QByteArray &address);
    // The read request, as it goes on the line.
    void requestSent(const QByteArray &frame);
    // What was collected after a request, complete or not.
    void replyReceived(const QByteArray &collected);
    // A write or clear frame as it was tried: `left` only when every byte left the port.
    void writeFrameSent(const QByteArray &frame, bool left);
    // A request, write or clear frame that never went: its port would not open.
    void frameNotSent(const QByteArray &frame);

private:
    bool OpenPort(const QString &device);
    // Closes the port; its lock goes too unless held.
    void closeLine();
    bool lockPort(const QString &device);
    void addressStation();
    void sleepUntilWoken();
    void wake();

    SerialPort &m_port;
    QTimer m_timer1; // pacing
    QTimer m_timer2; // reply time-out
    QEventLoop *m_loop = nullptr;
    QByteArray m_lastReply;
    QString m_refusal;
    std::vector<std::unique_ptr<PortLock>> m_locks;
    bool m_holdLocks = false;
    bool m_replyTimedOut = false;
    bool m_pacingTickFlag = false;
    bool m_lineLost = false;
    bool m_refused = false;
    bool m_receiveError = false;
    bool m_aborted = false;
};

} // namespace veltra
