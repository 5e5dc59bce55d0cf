#include "relaysim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

#include <utility>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace veltra::test {
namespace {

// Generous: a loaded machine may take seconds to start a process.
constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 3000;

} // namespace

#ifdef Q_OS_WIN

bool RelaySim::start(const QStringList &extraArgs)
{
    m_error.clear();
    const QString running = qEnvironmentVariable("VELTRA_SIM_ARGS");
    m_portPath = qEnvironmentVariable("VELTRA_SIM_PORT");
    if (m_portPath.isEmpty() || running != extraArgs.join(u' ')) {
        m_error = QStringLiteral("run this test through tests/windows/serial-seam, with the "
                                 "simulator started with \"%1\" (it has \"%2\")")
                      .arg(extraArgs.join(u' '), running);
        m_portPath.clear();
        return false;
    }
    return true;
}

void RelaySim::stop()
{
    m_portPath.clear();
}

bool RelaySim::pause()
{
    return qEnvironmentVariable("VELTRA_SIM_PAUSED") == QLatin1String("1");
}

QString RelaySim::logPath() const
{
    return qEnvironmentVariable("VELTRA_SIM_LOG");
}

int RelaySim::waitForExit(int)
{
    return -1; // the simulator is not our child here
}

RelaySim::~RelaySim()
{
    stop();
}

#else

RelaySim::~RelaySim()
{
    stop();
    if (m_numberHold >= 0)
        ::close(m_numberHold);
}

bool RelaySim::start(const QStringList &extraArgs)
{
    stop();
    if (m_numberHold >= 0)
        ::close(std::exchange(m_numberHold, -1));
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the log");
        return false;
    }
    QFile::remove(logPath());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VELTRA_RELAY_SIM),
                    extraArgs + QStringList{QStringLiteral("--log"), logPath()});
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            m_error = QStringLiteral("the simulator gave no line path within %1 ms (%2)")
                          .arg(kStartTimeoutMs)
                          .arg(m_process.errorString());
            stop();
            return false;
        }
    }
    m_portPath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (m_portPath.isEmpty())
        return false;
    m_numberHold = ::open(QFile::encodeName(m_portPath).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_numberHold < 0) {
        m_error = QStringLiteral("the simulator's line %1 would not open").arg(m_portPath);
        stop();
        return false;
    }
    return true;
}

void RelaySim::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        if (std::exchange(m_paused, false))
            ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.terminate();
        if (!m_process.waitForFinished(kStopTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(kStopTimeoutMs);
        }
    }
    m_portPath.clear();
}

bool RelaySim::pause()
{
    m_paused = isRunning() && ::kill(pid_t(m_process.processId()), SIGSTOP) == 0;
    return m_paused;
}

QString RelaySim::logPath() const
{
    return m_dir.filePath(QStringLiteral("relay-sim.jsonl"));
}

int RelaySim::waitForExit(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

#endif

QList<QJsonObject> RelaySim::logLines() const
{
    QList<QJsonObject> lines;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray text = file.readAll();
    // A line still being written has no newline yet; it is left for the next call.
    const qsizetype end = text.lastIndexOf('\n');
    for (const QByteArray &line : text.first(end + 1).split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            lines.append(doc.object());
    }
    return lines;
}

QList<QJsonObject> RelaySim::frames() const
{
    QList<QJsonObject> frames;
    for (const QJsonObject &line : logLines()) {
        if (line.contains(QStringLiteral("frame")))
            frames.append(line);
    }
    return frames;
}

bool RelaySim::waitForFrames(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return frames().size() >= count; }, timeoutMs);
}

} // namespace veltra::test
