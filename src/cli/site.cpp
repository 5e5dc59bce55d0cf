// veltra-cli site check: every relay of a plant against its design file, at once where the
// ports allow, with an append-only site log beside the site file.

#include "cli/outcomes.h"
#include "cli/runner.h"
#include "site/sitecheck.h"
#include "site/sitefile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <array>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace veltra::cli {
namespace {

using Status = RelayCheck::Status;

const char *statusWord(Status status)
{
    switch (status) {
    case Status::Match:
        return "match";
    case Status::Differs:
        return "differs";
    case Status::WrongStation:
        return "wrong-station";
    case Status::NoReply:
        return "no-reply";
    case Status::DataError:
        return "data-error";
    case Status::PortUnusable:
        return "port-unusable";
    case Status::NotReached:
        return "not-reached";
    }
    Q_UNREACHABLE();
}

// What a line of output says after the status.
QString detail(const RelayCheck &check)
{
    const QString read =
        check.stationRead ? messages::stationText(*check.stationRead) : QStringLiteral("-");
    switch (check.status) {
    case Status::Match:
        return QStringLiteral("station %1, fingerprint %2")
            .arg(read, shownFingerprint(check.relayFingerprint));
    case Status::Differs:
        return QStringLiteral("station %1, %2 item%3 differ from %4")
            .arg(read)
            .arg(check.differences.size())
            .arg(check.differences.size() == 1 ? "" : "s")
            .arg(check.relay.design);
    case Status::WrongStation:
        return QStringLiteral("station %1 answered on %2, not %3: not compared")
            .arg(read, check.relay.port, messages::stationText(check.relay.station));
    case Status::NoReply:
        return QStringLiteral("no reply on %1").arg(check.relay.port);
    case Status::DataError:
        return QStringLiteral("a reply on %1 that a read rejects").arg(check.relay.port);
    case Status::PortUnusable:
        return check.refusal.isEmpty()
                   ? QStringLiteral("cannot open %1").arg(check.relay.port)
                   : QStringLiteral("cannot open %1: %2").arg(check.relay.port, check.refusal);
    case Status::NotReached:
        return QStringLiteral("stopped before it was checked");
    }
    Q_UNREACHABLE();
}

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString engineerName(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("engineer")))
        return parser.value(QStringLiteral("engineer"));
    for (const char *variable : {"USER", "USERNAME", "LOGNAME"})
        if (const QString user = qEnvironmentVariable(variable); !user.isEmpty())
            return user;
#ifndef Q_OS_WIN
    // A service or a container may set none of them; the account is still known.
    if (const passwd *account = getpwuid(getuid()))
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return {};
}

} // namespace

QString siteLogPath(const QString &sitePath)
{
    const QFileInfo info(sitePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".log.csv"));
}

int Runner::site(const QCommandLineParser &parser)
{
    const QStringList arguments = parser.positionalArguments().mid(1);
    if (arguments.value(0) != QLatin1String("check"))
        return usage(QStringLiteral("site takes check: veltra-cli site check SITE.csv"));
    const QString path = arguments.value(1);
    const SiteFile site = readSiteFile(path);
    if (!site.problems.isEmpty()) {
        for (const SiteProblem &problem : site.problems)
            err(QStringLiteral("%1\t%2\t%3\n")
                    .arg(problem.line)
                    .arg(problem.column, siteProblemText(problem)));
        return fail(kInvalid, QStringLiteral("サイトファイルに誤りがあります。"),
                    QStringLiteral("%1: the site file or a design file it names is not right; "
                                   "nothing was sent")
                        .arg(path));
    }
    QList<SiteRelay> chosen = site.relays;
    if (const QStringList tags = parser.values(QStringLiteral("tag")); !tags.isEmpty()) {
        chosen.clear();
        for (const SiteRelay &relay : site.relays)
            if (tags.contains(relay.tag))
                chosen << relay;
        for (const QString &tag : tags)
            if (std::none_of(site.relays.begin(), site.relays.end(),
                             [&](const SiteRelay &relay) { return relay.tag == tag; }))
                return usage(QStringLiteral("%1 has no relay named '%2'").arg(path, tag));
    }

    // The site log: only ever appended to, a line per relay as its check ends.
    const QString logPath = siteLogPath(path);
    const bool fresh = !QFileInfo::exists(logPath);
    AppendFile log;
    if (const FileProblem problem = log.open(logPath); problem != FileProblem::None)
        return fail(kFileError, messages::logSaveFailed(),
                    fileProblemNote(problem, logPath) + QStringLiteral("; nothing was sent"));
    bool logComplete = true;
    if (fresh)
        logComplete = log.append(QByteArrayLiteral("\xEF\xBB\xBF") +
                                 QStringLiteral("時刻,技術者,名称,ポート,読込局番号,操作,"
                                                "変更前フィンガープリント,"
                                                "変更後フィンガープリント,結果\r\n")
                                     .toUtf8());
    const QString engineer = engineerName(parser);
    const bool json = parser.isSet(QStringLiteral("json"));

    SiteChecker checker(m_console.serialPort);
    if (StopRequests *stops = m_console.stops)
        QObject::connect(stops, &StopRequests::requested, &checker, &SiteChecker::stop);
    QObject::connect(&checker, &SiteChecker::relayChecked, &checker, [&](const RelayCheck &c) {
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList fields{now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate),
                                 engineer,
                                 c.relay.tag,
                                 c.relay.port,
                                 c.stationRead ? messages::stationText(*c.stationRead) : QString(),
                                 QStringLiteral("check"),
                                 c.relayFingerprint.value_or(QString()),
                                 c.relayFingerprint.value_or(QString()),
                                 QLatin1String(statusWord(c.status))};
        QStringList quoted;
        for (const QString &field : fields)
            quoted << csvField(field);
        logComplete =
            log.append((quoted.join(u',') + QStringLiteral("\r\n")).toUtf8()) && logComplete;
    });
    const QList<RelayCheck> results = checker.check(chosen);
    // In file order, whichever relay answered first: what a script compares run after run.
    if (!json)
        for (const RelayCheck &c : results)
            out(QStringLiteral("%1\t%2\t%3\n")
                    .arg(c.relay.tag, QLatin1String(statusWord(c.status)), detail(c)));

    if (json) {
        QJsonArray array;
        for (const RelayCheck &c : results) {
            QJsonArray differences;
            for (const ItemDifference &d : c.differences)
                differences.append(QJsonObject{{"page", d.page},
                                               {"label", rowLabel(pageKind(d.page), d.item)},
                                               {"design", d.design},
                                               {"relay", d.relay}});
            const auto orNull = [](const std::optional<QString> &text) {
                return text ? QJsonValue(*text) : QJsonValue();
            };
            array.append(QJsonObject{
                {"tag", c.relay.tag},
                {"port", c.relay.port},
                {"station_expected", messages::stationText(c.relay.station)},
                {"station_read",
                 c.stationRead ? QJsonValue(messages::stationText(*c.stationRead)) : QJsonValue()},
                {"fingerprint_design", orNull(c.designFingerprint)},
                {"fingerprint_relay", orNull(c.relayFingerprint)},
                {"differences", differences},
                {"status", QLatin1String(statusWord(c.status))}});
        }
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    }

    // The worst situation decides: a stop, a relay not read at all, another station, then
    // differences.
    const auto rank = [](Status status) {
        switch (status) {
        case Status::Match:
            return 0;
        case Status::Differs:
            return 1;
        case Status::WrongStation:
            return 2;
        case Status::NoReply:
        case Status::DataError:
        case Status::PortUnusable:
            return 3;
        case Status::NotReached:
            return 4;
        }
        Q_UNREACHABLE();
    };
    int worst = 0;
    for (const RelayCheck &c : results)
        worst = std::max(worst, rank(c.status));
    const int code =
        std::array{kSuccess, kDifferences, kWrongStation, kRelaysUnread, kStopped}[worst];
    if (!logComplete) {
        const int failed =
            fail(kFileError, messages::logSaveFailed(),
                 QStringLiteral("the site log could not all be written to %1").arg(logPath));
        return code == kSuccess ? failed : code;
    }
    return code;
}

} // namespace veltra::cli
