#pragma once

#include "site/sitefile.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QEventLoop;

namespace veltra {

class SerialPort;

// An item where a relay does not hold its design value, by the codes that travel.
struct ItemDifference
{
    int page = 0;
    int item = 0;
    QString design;
    QString relay;
};

// How one relay of a site stands against its row.
struct RelayCheck
{
    enum class Status {
        Match,         // the row's station, and every item as designed
        Differs,       // the row's station, and `differences`
        WrongStation,  // another station answered: its values were not compared
        NoReply,       // the port opened, and no complete reply came within the time-out
        DataError,     // a reply came that a read would reject
        PortUnusable,  // the port would not open (`refusal` says why, where it said)
        NotReached,    // the check was stopped before this relay
        DesignInvalid, // its design file is missing or unfit: it was not asked
    };
    SiteRelay relay;
    Status status = Status::NotReached;
    std::optional<int> stationRead;
    std::optional<QString> designFingerprint;
    std::optional<QString> relayFingerprint;
    QList<ItemDifference> differences;
    QString refusal;
    QList<QByteArray> replies; // each page's accepted reply, in page order, as far as it was read
};

// Checks a site's relays: relays on different ports at the same time, rows that share a port
// one after another in the order given, each read as a read-all reads (every page, one request
// at a time with the protocol's pause). Nothing but read requests is sent, and nothing to a
// relay whose design is not valid.
class SiteChecker : public QObject
{
    Q_OBJECT
public:
    using LineFactory = std::function<SerialPort *()>;
    explicit SiteChecker(LineFactory makeLine = {}, QObject *parent = nullptr);
    ~SiteChecker() override;

    // Runs a nested event loop until every relay is checked or the check is stopped; the
    // results in the order of `relays`.
    QList<RelayCheck> check(const QList<SiteRelay> &relays);
    // No relay begins after this; each relay on a line finishes its page and ends there as
    // not reached, unless it was complete.
    void stop();
    // No relay begins after this; each relay on a line is read to its end.
    void stopBetweenRelays();

signals:
    // The relay `tag` is asked for page 0..8.
    void pageAsked(const QString &tag, int page);
    void requestSent(const QString &port, const QByteArray &frame);
    void replyReceived(const QString &port, const QByteArray &collected);
    void frameNotSent(const QString &port, const QByteArray &frame);
    void relayChecked(const veltra::RelayCheck &result);

private:
    friend class PortRound;
    LineFactory m_makeLine;
    QEventLoop *m_loop = nullptr;
    bool m_stopping = false;       // at the next page
    bool m_stoppingRelays = false; // at the next relay
};

// Where the design file's values and the replies of a relay differ, by the codes that travel
// (as verify and diff compare): `reply(page)` is page's accepted reply.
QList<ItemDifference> relayDifferences(const std::function<QString(int, int)> &design,
                                       const std::function<QByteArray(int)> &reply);

} // namespace veltra
