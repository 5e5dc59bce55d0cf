#include "operations/framelog.h"

#include "link/devicelink.h"
#include "link/frames.h"
#include "operations/messages.h"
#include "operations/relayfinder.h"
#include "settings/items.h"
#include "site/sitecheck.h"

namespace veltra {
namespace {

// ENQ "FF" then "AE000" and the page digit for a read request, "B" and the digit for a write.
int pageOfFrame(const QByteArray &frame)
{
    const qsizetype at = frame.indexOf("FFAE") == 1 ? 8 : frame.indexOf("FFB") == 1 ? 4 : -1;
    if (at < 0 || at >= frame.size() || frame[at] < '0' || frame[at] > '9')
        return -1;
    return frame[at] - '0';
}

// The frame as text: control characters by their names, other unprintable bytes in hex.
QString printable(const QByteArray &frame)
{
    QString text;
    for (const char c : frame) {
        switch (c) {
        case kEnq:
            text += QStringLiteral("<ENQ>");
            break;
        case kStx:
            text += QStringLiteral("<STX>");
            break;
        case kEtx:
            text += QStringLiteral("<ETX>");
            break;
        case kCr:
            text += QStringLiteral("<CR>");
            break;
        default:
            if (c >= 0x20 && c < 0x7F)
                text += QLatin1Char(c);
            else
                text += QStringLiteral("<%1>").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return text;
}

FrameLog::Result replyResult(const QByteArray &collected)
{
    switch (judgeReply(collected)) {
    case ReplyVerdict::Accepted:
        return FrameLog::Result::Accepted;
    case ReplyVerdict::BadChecksum:
        return FrameLog::Result::BadChecksum;
    case ReplyVerdict::StrayBeforeStx:
        return FrameLog::Result::StrayBeforeStx;
    case ReplyVerdict::Incomplete:
        break;
    }
    // What came instead of a reply tells a wiring fault from a relay that is not there.
    return collected.isEmpty() ? FrameLog::Result::NoReply : FrameLog::Result::IncompleteReply;
}

} // namespace

FrameLog::FrameLog(QObject *parent) : QObject(parent) {}

void FrameLog::follow(const DeviceLink &link, const QString &port)
{
    connect(&link, &DeviceLink::requestSent, this, [this, port](const QByteArray &frame) {
        m_requestedPage.insert(port, pageOfFrame(frame));
        add(Direction::Sent, frame, Result::Sent, port);
    });
    connect(&link, &DeviceLink::replyReceived, this, [this, port](const QByteArray &collected) {
        add(Direction::Received, collected, replyResult(collected), port);
    });
    connect(&link, &DeviceLink::writeFrameSent, this,
            [this, port](const QByteArray &frame, bool left) {
                m_requestedPage.remove(port);
                add(Direction::Sent, frame, left ? Result::Sent : Result::NotSent, port);
            });
    connect(&link, &DeviceLink::frameNotSent, this, [this, port](const QByteArray &frame) {
        m_requestedPage.remove(port);
        add(Direction::Sent, frame, Result::PortUnusable, port);
    });
}

// The finder and a site's check report each frame with its port, by the same three signals.
template<typename Source> void FrameLog::followPorts(const Source &source)
{
    connect(&source, &Source::requestSent, this,
            [this](const QString &port, const QByteArray &frame) {
                m_requestedPage.insert(port, pageOfFrame(frame));
                add(Direction::Sent, frame, Result::Sent, port);
            });
    connect(&source, &Source::replyReceived, this,
            [this](const QString &port, const QByteArray &collected) {
                add(Direction::Received, collected, replyResult(collected), port);
            });
    connect(&source, &Source::frameNotSent, this,
            [this](const QString &port, const QByteArray &frame) {
                m_requestedPage.remove(port);
                add(Direction::Sent, frame, Result::PortUnusable, port);
            });
}

void FrameLog::follow(const RelayFinder &finder)
{
    followPorts(finder);
}

void FrameLog::follow(const SiteChecker &checker)
{
    followPorts(checker);
}

void FrameLog::add(Direction direction, const QByteArray &frame, Result result, const QString &port)
{
    const int page =
        direction == Direction::Received ? m_requestedPage.value(port, -1) : pageOfFrame(frame);
    m_entries.push_back({QTime::currentTime(), direction, page, frame, result, port});
    if (m_entries.size() > std::size_t(kMaxEntries))
        m_entries.pop_front();
    emit entryAdded(m_entries.back());
}

QString FrameLog::line(const Entry &entry, qsizetype shownBytes)
{
    const QString time = entry.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    const qsizetype size = entry.frame.size();
    const QString frame = shownBytes >= 0 && size > shownBytes
                              ? printable(entry.frame.first(shownBytes)) + messages::frameCut(size)
                              : printable(entry.frame);
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(entry.port.isEmpty() ? time : time + QStringLiteral("  ") + entry.port,
             messages::frameDirection(entry.direction == Direction::Sent),
             messages::framePage(entry.page), frame, messages::frameResult(entry.result, size));
}

QString FrameLog::text() const
{
    QString all;
    for (const Entry &entry : m_entries)
        all += line(entry) + u'\n';
    return all;
}

} // namespace veltra
