#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace veltra::test {

// The simulated relay as a child process, logging into its own temporary folder.
//
// A Windows test runs under Wine, which cannot start the simulator and keep hold of it; there
// tests/windows/serial-seam starts it with the options a test needs, maps a COM port to its
// line and names port, log and options in VELTRA_SIM_PORT, VELTRA_SIM_LOG and VELTRA_SIM_ARGS.
// start() then checks that the running simulator has the options asked for, and fails, saying
// which, when it has not. There the script also pauses the simulator for a test that asks it
// to (VELTRA_SIM_PAUSED=1).
class RelaySim
{
public:
    RelaySim() = default;
    RelaySim(const RelaySim &) = delete;
    RelaySim &operator=(const RelaySim &) = delete;
    ~RelaySim();

    // Starts the simulator with `extraArgs` (e.g. {"--fault", "no-reply"}) and waits up to 5 s
    // for the path of its line. False, with errorString(), when it does not come up.
    bool start(const QStringList &extraArgs = {});
    void stop();
    // Stops the simulator in its tracks (SIGSTOP): it reads nothing more, so the line's
    // buffers fill. It goes on when stopped.
    bool pause();

    QString portPath() const { return m_portPath; }
    QString logPath() const;
    QString errorString() const { return m_error; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

    // Every frame logged so far, in order of arrival (event lines left out).
    QList<QJsonObject> frames() const;
    // Every log line, frames and events ("hangup", "flood", "stop") alike.
    QList<QJsonObject> logLines() const;
    // Waits, processing events, until the log holds at least `count` frames.
    bool waitForFrames(int count, int timeoutMs = 5000) const;
    // Waits for the simulator to end by itself (after a hang-up); its exit code, or -1.
    int waitForExit(int timeoutMs = 5000);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_portPath;
    QString m_error;
    bool m_paused = false;
    // The line's slave side, held open and never read while this object lives: a pty's
    // number stays taken until its last holder closes, so when the simulator hangs up or is
    // stopped, a busy machine's next pty (another test's) cannot take the name that the tool
    // under test may still open.
    int m_numberHold = -1;
};

} // namespace veltra::test
