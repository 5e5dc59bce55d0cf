#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTime>

#include <deque>

namespace veltra {

class DeviceLink;
class RelayFinder;
class SiteChecker;

// Every frame sent and received in this run, for a support call: the last kMaxEntries, kept
// in memory only; nothing is written unless the user saves it.
class FrameLog final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxEntries = 10000;

    enum class Direction { Sent, Received };
    enum class Result {
        Sent,            // a read request, or a write or clear frame that left whole
        NotSent,         // a write or clear frame that did not leave
        PortUnusable,    // a frame that never went: its port would not open
        Accepted,        // a reply that passed
        BadChecksum,     // a reply whose checksum did not match
        StrayBeforeStx,  // a reply with something before its STX
        NoReply,         // nothing at all before the time-out, or before the line was lost
        IncompleteReply, // bytes, but no complete reply: the entry's frame holds them all
    };
    struct Entry
    {
        QTime time;
        Direction direction = Direction::Sent;
        int page = -1; // 0..8, 9 for the clear frame; -1 when the frame names none
        QByteArray frame;
        Result result = Result::Sent;
        QString port; // a relay search's entries name their port; a link's have one port
    };

    explicit FrameLog(QObject *parent = nullptr);
    // Logs what `link` sends and receives from now on; its entries name `port` when given (a
    // site's relays, each on its own link).
    void follow(const DeviceLink &link, const QString &port = QString());
    // And what a relay search sends and receives, each entry with its port.
    void follow(const RelayFinder &finder);
    // And what a site's check sends and receives, each entry with its port.
    void follow(const SiteChecker &checker);

    const std::deque<Entry> &entries() const { return m_entries; }
    // "14:32:05.123  送信  回路３  <ENQ>FFAE3000D5<CR>  送信済み", one line per entry. A frame
    // longer than `shownBytes` is cut after them, its length said; -1 keeps it whole.
    static QString line(const Entry &entry, qsizetype shownBytes = -1);
    // Every entry, each frame whole.
    QString text() const;

signals:
    void entryAdded(const FrameLog::Entry &entry);

private:
    template<typename Source> void followPorts(const Source &source);
    void add(Direction direction, const QByteArray &frame, Result result,
             const QString &port = QString());

    std::deque<Entry> m_entries;
    // A reply belongs to the request before it on its port; ports are asked at the same time.
    QHash<QString, int> m_requestedPage;
};

} // namespace veltra
