#pragma once

#include "framesplitter.h"
#include "pseudoterminal.h"
#include "relaymodel.h"
#include "replyfaults.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdio>
#include <deque>
#include <memory>

namespace veltra::sim {

// 9600 baud, 7 data bits, even parity, 1 stop bit: 10 bits a character.
inline constexpr qint64 kCharNs = 10'000'000'000 / 9600;

struct SimOptions
{
    QString logPath;       // empty: no log; "-": standard output
    bool wireTime = false; // pace requests and replies as the serial line would
    int delayMs = 0;       // turnaround before a reply starts
    ReadFault fault = ReadFault::None;
    int faultPage = -1;  // -1: every page
    int faultCount = -1; // -1: every matching read
    double floodSeconds = 4.0;
    int hangupAfterWrites = -1; // -1: never
};

// A relay on a pseudo-terminal: reads frames from the line, lets the model answer them, sends
// replies on a schedule and logs every frame. Single-threaded, driven by descriptor notifiers;
// it never polls.
class RelaySimulator : public QObject
{
    Q_OBJECT

public:
    RelaySimulator(const SimOptions &options, const RelayModel &model, QObject *parent = nullptr);
    ~RelaySimulator() override;

    bool start(QString *error);
    QString portPath() const { return m_pty.slavePath(); }
    // Ends cleanly (signal or quit): notes it in the log and closes the line.
    void stop();

signals:
    void finished(int exitCode);

private:
    struct Step
    {
        enum Kind { Bytes, Flood, Hangup };
        Kind kind = Bytes;
        qint64 dueNs = 0;
        QByteArray bytes;
        qint64 floodEndNs = 0;
    };

    qint64 nowNs() const;
    double elapsedMs(qint64 ns) const;

    void onReadable();
    void onWritable();
    void onTimer();
    void handleFrame(const QByteArray &frame, qint64 startNs, qint64 readNs);
    void scheduleBytes(qint64 startNs, const QByteArray &bytes);
    void scheduleFlood(qint64 startNs);
    void scheduleHangup(qint64 dueNs);
    void cancelFlood();
    void pump();
    void writeGarbage(qint64 count);
    void flushUnwritten();
    void armTimer();
    void hangUp(const QString &why, int exitCode);
    void logLine(const QJsonObject &object);
    void logEvent(const QString &event, const QString &detail = {});

    SimOptions m_options;
    RelayModel m_model;
    PseudoTerminal m_pty;
    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::unique_ptr<QSocketNotifier> m_timerNotifier;
    std::FILE *m_log = nullptr;
    bool m_ownsLog = false;

    FrameSplitter m_splitter;
    qint64 m_startNs = 0;
    qint64 m_pendingFrameStartNs = 0;
    std::deque<Step> m_queue;
    QByteArray m_unwritten;
    qint64 m_garbageIndex = 0;
    int m_faultsApplied = 0;
    int m_writesAccepted = 0;
    bool m_finished = false;
};

} // namespace veltra::sim
