#include "site/sitecheck.h"

#include "link/devicelink.h"
#include "link/frames.h"
#include "link/portlock.h"
#include "link/replycollector.h"
#include "link/serialport.h"
#include "settings/changes.h"
#include "settings/decode.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/memoryfields.h"

#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <vector>

namespace veltra {

QList<ItemDifference> relayDifferences(const std::function<QString(int, int)> &design,
                                       const std::function<QByteArray(int)> &reply)
{
    QList<ItemDifference> differences;
    for (int page = 0; page < kPageCount; ++page) {
        const QByteArray bytes = reply(page);
        for (int item = 0; item < itemCount(page); ++item) {
            const QString planned = design(page, item);
            if (!relayMatches(page, item, planned, bytes))
                differences << ItemDifference{page, item, planned, reportedText(page, item, bytes)};
        }
    }
    return differences;
}

// The rows of one port, one after another: for each, the line opened, every page asked for
// with the protocol's pause between two requests, the line closed. The port's lock is held
// from the first open to the last close, so that no other command of this tool interleaves.
class PortRound final : public QObject
{
public:
    PortRound(SiteChecker &checker, QList<RelayCheck *> rows, std::function<void()> settled)
        : m_checker(checker), m_rows(std::move(rows)), m_settled(std::move(settled))
    {
        for (QTimer *timer : {&m_deadline, &m_pause}) {
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
        }
        connect(&m_deadline, &QTimer::timeout, this, [this] { pageEnded(); });
        connect(&m_pause, &QTimer::timeout, this, [this] { next(); });
    }

    void start()
    {
        const QString port = m_rows.constFirst()->relay.port;
        m_device = systemPortName(port).value_or(QString());
        if (!m_lock.tryLock(m_device)) {
            for (RelayCheck *row : m_rows) {
                row->status = RelayCheck::Status::PortUnusable;
                row->refusal = PortLock::heldElsewhere();
                emit m_checker.relayChecked(*row);
            }
            m_rows.clear();
            finish();
            return;
        }
        next();
    }

    bool done() const { return m_done; }

private:
    RelayCheck &row() { return *m_rows[m_row]; }

    // The next page of the relay on the line, or the next relay.
    void next()
    {
        if (m_line && m_page < kPageCount) {
            ask();
            return;
        }
        if (m_row + 1 >= m_rows.size() || m_checker.m_stopping || m_checker.m_stoppingRelays) {
            finish();
            return;
        }
        ++m_row;
        m_page = 0;
        open();
    }

    void open()
    {
        m_line.reset(m_checker.m_makeLine());
        m_line->setPortName(m_device);
        m_line->setLineSettings();
        connect(m_line.get(), &SerialPort::refused, this, [this](const QString &why) {
            row().refusal = why;
            if (m_asked >= 0)
                pageEnded();
        });
        connect(m_line.get(), &SerialPort::lineLost, this, [this] {
            if (m_asked >= 0)
                pageEnded();
        });
        connect(m_line.get(), &SerialPort::bytesArrived, this, [this] {
            if (m_asked >= 0 && m_reply.feed(m_line->takeReceived()) != ReplyVerdict::Incomplete)
                pageEnded();
        });
        connect(m_line.get(), &SerialPort::openFinished, this, [this](bool opened) {
            if (!opened) {
                emit m_checker.frameNotSent(row().relay.port, readRequest(kCommonPage));
                rowEnded(RelayCheck::Status::PortUnusable);
            } else if (m_checker.m_stopping) {
                rowEnded(RelayCheck::Status::NotReached);
            } else {
                ask();
            }
        });
        m_line->beginOpen();
    }

    void ask()
    {
        const QByteArray request = readRequest(m_page);
        m_asked = m_page;
        m_reply.clear();
        m_line->discardInput();
        m_line->write(request);
        m_deadline.start(kReplyTimeoutMs);
        emit m_checker.pageAsked(row().relay.tag, m_page);
        emit m_checker.requestSent(row().relay.port, request);
    }

    void pageEnded()
    {
        if (m_asked < 0)
            return;
        m_deadline.stop();
        m_asked = -1;
        emit m_checker.replyReceived(row().relay.port, m_reply.bytes());
        const ReplyVerdict verdict = m_reply.verdict();
        if (verdict != ReplyVerdict::Accepted) {
            rowEnded(m_reply.bytes().isEmpty() ? RelayCheck::Status::NoReply
                                               : RelayCheck::Status::DataError);
            return;
        }
        row().replies << m_reply.bytes();
        if (m_page == kCommonPage) {
            DecodedRecords records;
            row().stationRead = stationNumberValue(
                decodePage(kCommonPage, m_reply.bytes(), records).value(kStationItem));
            // Another relay's values are not compared with this row's design.
            if (row().stationRead != row().relay.station) {
                rowEnded(RelayCheck::Status::WrongStation);
                return;
            }
        }
        if (++m_page == kPageCount) {
            compare();
            return;
        }
        if (m_checker.m_stopping) {
            rowEnded(RelayCheck::Status::NotReached);
            return;
        }
        m_pause.start(kPacingMs);
    }

    void compare()
    {
        MemoryFields design;
        loadDesign(row().relay.designPath, design);
        const auto planned = [&](int page, int item) { return design.setValue(page, item); };
        const auto reported = [&](int page, int item) {
            return reportedText(page, item, row().replies.value(page));
        };
        row().relayFingerprint = fingerprint(reported);
        row().differences =
            relayDifferences(planned, [&](int page) { return row().replies.value(page); });
        rowEnded(row().differences.isEmpty() ? RelayCheck::Status::Match
                                             : RelayCheck::Status::Differs);
    }

    void rowEnded(RelayCheck::Status status)
    {
        m_deadline.stop();
        m_asked = -1;
        row().status = status;
        if (m_line) {
            m_line->close();
            m_line.release()->deleteLater();
        }
        emit m_checker.relayChecked(row());
        m_page = kPageCount;
        // The relay, and the next on this port, get the protocol's pause too.
        m_pause.start(kPacingMs);
    }

    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        m_pause.stop();
        m_deadline.stop();
        m_lock.unlock();
        m_settled();
    }

    SiteChecker &m_checker;
    QList<RelayCheck *> m_rows;
    std::function<void()> m_settled;
    QString m_device;
    PortLock m_lock;
    std::unique_ptr<SerialPort> m_line;
    ReplyCollector m_reply;
    QTimer m_deadline, m_pause;
    qsizetype m_row = -1;
    int m_page = kPageCount;
    int m_asked = -1; // the page whose reply is awaited
    bool m_done = false;
};

SiteChecker::SiteChecker(LineFactory makeLine, QObject *parent)
    : QObject(parent), m_makeLine(std::move(makeLine))
{
    if (!m_makeLine)
        m_makeLine = [] { return createSerialPort(nullptr); };
}

SiteChecker::~SiteChecker() = default;

void SiteChecker::stop()
{
    m_stopping = true;
}

void SiteChecker::stopBetweenRelays()
{
    m_stoppingRelays = true;
}

QList<RelayCheck> SiteChecker::check(const QList<SiteRelay> &relays)
{
    m_stopping = m_stoppingRelays = false;
    QList<RelayCheck> results;
    for (const SiteRelay &relay : relays) {
        RelayCheck result;
        result.relay = relay;
        // Known before any reply: a relay that cannot be read still has its design's.
        result.designFingerprint = designFingerprint(relay);
        results << result;
    }
    // Rows by the port they name, in file order within each.
    QList<QString> ports;
    QList<QList<RelayCheck *>> groups;
    for (RelayCheck &result : results) {
        if (!result.relay.designValid) {
            result.status = RelayCheck::Status::DesignInvalid;
            emit relayChecked(result);
            continue;
        }
        const QString key =
            PortLock::canonicalName(systemPortName(result.relay.port).value_or(result.relay.port));
        const qsizetype at = ports.indexOf(key);
        if (at < 0) {
            ports << key;
            groups << QList<RelayCheck *>{&result};
        } else {
            groups[at] << &result;
        }
    }
    QEventLoop loop;
    std::vector<std::unique_ptr<PortRound>> rounds;
    const auto settled = [&] {
        for (const auto &round : rounds)
            if (!round->done())
                return;
        loop.quit();
    };
    for (const QList<RelayCheck *> &group : groups)
        rounds.push_back(std::make_unique<PortRound>(*this, group, settled));
    for (const auto &round : rounds)
        round->start();
    bool waiting = false;
    for (const auto &round : rounds)
        waiting = waiting || !round->done();
    if (waiting) {
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    return results;
}

} // namespace veltra
