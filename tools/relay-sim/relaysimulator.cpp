#include "relaysimulator.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace veltra::sim {
namespace {

// Without wire-time a flood is still bounded: 64 bytes a millisecond, about 67 times the line.
constexpr qint64 kFloodChunk = 64;
constexpr qint64 kFloodIntervalNs = 1'000'000;
constexpr qint64 kHangupGapNs = 20'000'000;
constexpr char kGarbage[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

RelaySimulator::RelaySimulator(const SimOptions &options, const RelayModel &model, QObject *parent)
    : QObject(parent), m_options(options), m_model(model)
{}

RelaySimulator::~RelaySimulator()
{
    stop();
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_timerNotifier.reset();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
    if (m_log && m_ownsLog)
        std::fclose(m_log);
}

qint64 RelaySimulator::nowNs() const
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double RelaySimulator::elapsedMs(qint64 ns) const
{
    return double(ns - m_startNs) / 1e6;
}

bool RelaySimulator::start(QString *error)
{
    m_startNs = nowNs();
    if (m_options.logPath == QLatin1String("-")) {
        m_log = stdout;
    } else if (!m_options.logPath.isEmpty()) {
        m_log = std::fopen(QFile::encodeName(m_options.logPath).constData(), "w");
        if (!m_log) {
            *error =
                QStringLiteral("cannot write the log %1: %2").arg(m_options.logPath, errnoText());
            return false;
        }
        m_ownsLog = true;
    }

    if (!m_pty.open(error))
        return false;

    // Reply characters are due every 1.04 ms; a timerfd with absolute deadlines keeps that
    // schedule to the microsecond where millisecond timers would bunch characters.
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0) {
        *error = QStringLiteral("timerfd_create: %1").arg(errnoText());
        return false;
    }

    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &RelaySimulator::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &RelaySimulator::onWritable);
    m_timerNotifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
    connect(m_timerNotifier.get(), &QSocketNotifier::activated, this, &RelaySimulator::onTimer);
    return true;
}

void RelaySimulator::stop()
{
    if (m_finished)
        return;
    m_finished = true;
    logEvent(QStringLiteral("stop"));
    for (auto *notifier : {m_readNotifier.get(), m_writeNotifier.get(), m_timerNotifier.get()}) {
        if (notifier)
            notifier->setEnabled(false);
    }
    m_pty.close();
}

void RelaySimulator::onReadable()
{
    if (m_finished)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
        if (n > 0) {
            const qint64 readNs = nowNs();
            const bool hadPending = m_splitter.pendingSize() > 0;
            const QList<QByteArray> frames = m_splitter.feed(QByteArrayView(buffer, n));
            for (qsizetype i = 0; i < frames.size(); ++i) {
                const qint64 startNs = i == 0 && hadPending ? m_pendingFrameStartNs : readNs;
                handleFrame(frames[i], startNs, readNs);
            }
            if (m_splitter.pendingSize() > 0 && !(hadPending && frames.isEmpty()))
                m_pendingFrameStartNs = readNs;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The held slave descriptor should make this impossible; never spin on it.
        hangUp(QStringLiteral("line-lost"), 1);
        return;
    }
    pump();
}

void RelaySimulator::onWritable()
{
    flushUnwritten();
}

void RelaySimulator::onTimer()
{
    quint64 expirations = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_timerFd, &expirations, sizeof expirations);
    pump();
}

void RelaySimulator::handleFrame(const QByteArray &frame, qint64 startNs, qint64 readNs)
{
    // Whatever the tool sends next, the relay is listening again.
    cancelFlood();

    const FrameResult result = m_model.handleFrame(frame);
    // On a real line the request has arrived only when its last character has.
    const qint64 arrivedNs =
        m_options.wireTime ? std::max(readNs, startNs + frame.size() * kCharNs) : readNs;

    QJsonObject entry{
        {QStringLiteral("t_ms"), elapsedMs(readNs)},
        {QStringLiteral("frame"), QString::fromLatin1(frame)},
        {QStringLiteral("command"), QString::fromLatin1(result.command)},
        {QStringLiteral("page"), result.page},
        {QStringLiteral("accepted"), result.accepted},
        {QStringLiteral("reason"), result.reason},
    };

    const bool faulty = result.kind == FrameKind::Read && m_options.fault != ReadFault::None &&
                        (m_options.faultPage < 0 || m_options.faultPage == result.page) &&
                        (m_options.faultCount < 0 || m_faultsApplied < m_options.faultCount);
    if (faulty) {
        ++m_faultsApplied;
        entry.insert(QStringLiteral("fault"), readFaultName(m_options.fault));
    }
    // The frame goes into the log before anything that answering it may log.
    logLine(entry);

    if (result.kind == FrameKind::Read) {
        const qint64 replyNs = arrivedNs + qint64(m_options.delayMs) * 1'000'000;
        if (!faulty) {
            scheduleBytes(replyNs, result.reply);
        } else if (m_options.fault == ReadFault::GarbageFlood) {
            scheduleFlood(replyNs);
        } else if (m_options.fault == ReadFault::Echo) {
            scheduleBytes(replyNs, frame + result.reply);
        } else if (m_options.fault == ReadFault::OtherPage) {
            scheduleBytes(replyNs, m_model.replyFrame((result.page + 1) % 9));
        } else {
            scheduleBytes(replyNs, faultyReply(m_options.fault, replyHeader(result.page),
                                               replyData(m_model.settings(), result.page)));
            // The tool gets the first part before the line drops, as when a cable is pulled.
            if (m_options.fault == ReadFault::Hangup)
                scheduleHangup(replyNs + kHangupGapNs);
        }
    }

    if (result.kind == FrameKind::Write && ++m_writesAccepted == m_options.hangupAfterWrites)
        scheduleHangup(arrivedNs);
}

void RelaySimulator::scheduleBytes(qint64 startNs, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // Never overtake output that is still due.
    const qint64 begin = m_queue.empty() ? startNs : std::max(startNs, m_queue.back().dueNs);
    if (m_options.wireTime) {
        // A character reaches the other end when its stop bit has.
        for (qsizetype i = 0; i < bytes.size(); ++i)
            m_queue.push_back({Step::Bytes, begin + (i + 1) * kCharNs, bytes.sliced(i, 1), 0});
    } else {
        m_queue.push_back({Step::Bytes, begin, bytes, 0});
    }
    armTimer();
}

void RelaySimulator::scheduleFlood(qint64 startNs)
{
    const auto lengthNs = qint64(m_options.floodSeconds * 1e9);
    m_queue.push_back({Step::Flood, startNs, {}, startNs + lengthNs});
    logEvent(QStringLiteral("flood"), QStringLiteral("%1 s").arg(m_options.floodSeconds));
    armTimer();
}

void RelaySimulator::scheduleHangup(qint64 dueNs)
{
    const qint64 at = m_queue.empty() ? dueNs : std::max(dueNs, m_queue.back().dueNs);
    m_queue.push_back({Step::Hangup, at, {}, 0});
    armTimer();
}

void RelaySimulator::cancelFlood()
{
    std::erase_if(m_queue, [](const Step &step) { return step.kind == Step::Flood; });
    armTimer();
}

void RelaySimulator::pump()
{
    if (m_finished)
        return;
    const qint64 now = nowNs();
    while (!m_queue.empty() && m_queue.front().dueNs <= now) {
        Step &step = m_queue.front();
        switch (step.kind) {
        case Step::Bytes:
            m_unwritten.append(step.bytes);
            m_queue.pop_front();
            break;
        case Step::Flood:
            writeGarbage(m_options.wireTime ? 1 : kFloodChunk);
            step.dueNs += m_options.wireTime ? kCharNs : kFloodIntervalNs;
            if (step.dueNs >= step.floodEndNs) {
                m_queue.pop_front();
                logEvent(QStringLiteral("flood-end"));
            }
            break;
        case Step::Hangup:
            flushUnwritten();
            hangUp(QStringLiteral("hangup"), 0);
            return;
        }
    }
    flushUnwritten();
    armTimer();
}

void RelaySimulator::writeGarbage(qint64 count)
{
    // Garbage never overtakes a reply; what the line cannot take is lost, as on a wire.
    if (!m_unwritten.isEmpty())
        return;
    QByteArray bytes(count, '\0');
    for (char &c : bytes)
        c = kGarbage[m_garbageIndex++ % (sizeof kGarbage - 1)];
    [[maybe_unused]] const ssize_t n = ::write(m_pty.masterFd(), bytes.constData(), bytes.size());
}

void RelaySimulator::flushUnwritten()
{
    while (!m_unwritten.isEmpty() && m_pty.isOpen()) {
        const ssize_t n = ::write(m_pty.masterFd(), m_unwritten.constData(), m_unwritten.size());
        if (n > 0) {
            m_unwritten.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        logEvent(QStringLiteral("write-error"), errnoText());
        m_unwritten.clear();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_unwritten.isEmpty() && !m_finished);
}

void RelaySimulator::armTimer()
{
    if (m_timerFd < 0)
        return;
    itimerspec deadline{};
    if (!m_queue.empty()) {
        // A deadline in the past fires at once; zero would disarm, so never use it.
        const qint64 due = std::max<qint64>(m_queue.front().dueNs, 1);
        deadline.it_value.tv_sec = due / 1'000'000'000;
        deadline.it_value.tv_nsec = due % 1'000'000'000;
    }
    ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &deadline, nullptr);
}

void RelaySimulator::hangUp(const QString &why, int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    logEvent(why);
    // Disabled, not deleted: this may run inside one of their own signals.
    for (auto *notifier : {m_readNotifier.get(), m_writeNotifier.get(), m_timerNotifier.get()}) {
        if (notifier)
            notifier->setEnabled(false);
    }
    m_queue.clear();
    m_unwritten.clear();
    m_pty.close();
    emit finished(exitCode);
}

void RelaySimulator::logLine(const QJsonObject &object)
{
    if (!m_log)
        return;
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), m_log);
    std::fflush(m_log);
}

void RelaySimulator::logEvent(const QString &event, const QString &detail)
{
    QJsonObject entry{{QStringLiteral("t_ms"), elapsedMs(nowNs())},
                      {QStringLiteral("event"), event}};
    if (!detail.isEmpty())
        entry.insert(QStringLiteral("detail"), detail);
    logLine(entry);
}

} // namespace veltra::sim
