#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QEventLoop;

namespace veltra {

class SerialPort;
class SettingsFields;

// Outcome of the last transaction.
enum LinkErrorCode : int {
    kLinkOk = 0,
    kLinkNoReply = 1,   // no STX..CR within the time-out, or the line was lost
    kLinkDataError = 2, // the reply failed the checksum test
    kLinkPortUnusable = 3,
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
// the window stays live and the CPU idles.
class DeviceLink : public QObject
{
    Q_OBJECT
public:
    DeviceLink(SerialPort &port, SettingsFields &fields, QObject *parent = nullptr);
    ~DeviceLink() override;

    // Sends the read request for page 0..8 and collects the reply into LastReply;
    // the outcome is LinkError.
    void ReadTransaction(int page);
    // Sends a write or clear frame (built by BuildWriteFrame when the write was confirmed)
    // and closes the port once every byte has left.
    FrameSent SendWriteFrame(const QByteArray &frame);
    // The 100 ms pause between frames.
    void pacingPause();

    int linkError() const { return m_linkError; }
    void resetLinkError() { m_linkError = kLinkOk; }
    const QByteArray &lastReply() const { return m_lastReply; }

    bool isPortOpen() const;
    void closePort();

    // Ends the current wait at once (the window is closing); later waits end at once too.
    void abortWaits();

    static QString linkErrorMessage(int linkError);

private:
    bool OpenPort();
    void setStationCaption();
    void sleepUntilWoken();
    void wake();

    SerialPort &m_port;
    SettingsFields &m_fields;
    QTimer m_timer1; // pacing
    QTimer m_timer2; // reply time-out
    QEventLoop *m_loop = nullptr;
    int m_linkError = kLinkOk;
    QByteArray m_lastReply;
    bool m_replyTimedOut = false;
    bool m_pacingTickFlag = false;
    bool m_lineLost = false;
    bool m_aborted = false;
};

} // namespace veltra
