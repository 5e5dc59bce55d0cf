#include "cli/cli.h"

#include "cli/outcomes.h"
#include "cli/runner.h"
#include "file/settingsfile.h"
#include "settings/changes.h"
#include "settings/fingerprint.h"
#include "settings/itemchange.h"
#include "settings/items.h"
#include "settings/validation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The commands of veltra-cli, one handler each; the command table (commandtable.cpp) names
// them, and runner.cpp holds what they share.
namespace veltra::cli {

QString portLine(const PresentPort &port)
{
    QStringList fields{port.name, port.description, port.manufacturer, port.usbId,
                       port.serialNumber};
    while (fields.size() > 1 && fields.constLast().isEmpty())
        fields.removeLast();
    return fields.join(u'\t');
}

QJsonObject portJson(const PresentPort &port)
{
    return {{"name", port.name},
            {"description", port.description},
            {"manufacturer", port.manufacturer},
            {"usbId", port.usbId},
            {"serialNumber", port.serialNumber},
            {"bluetooth", port.bluetooth}};
}

int Runner::ports(const QCommandLineParser &parser)
{
    const QList<PresentPort> ports = presentPorts();
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonArray list;
        for (const PresentPort &port : ports)
            list.append(portJson(port));
        m_console.out(QJsonDocument(QJsonObject{{"ports", list}}).toJson(QJsonDocument::Compact) +
                      '\n');
        return kSuccess;
    }
    for (const PresentPort &port : ports)
        out(portLine(port) + u'\n');
    return kSuccess;
}

int Runner::read(const QCommandLineParser &parser)
{
    int code = kSuccess;
    const std::optional<int> onePage = page(parser, &code);
    if (code != kSuccess)
        return code;
    if (onePage && parser.isSet(QStringLiteral("o")))
        return usage(QStringLiteral("-o saves all nine pages; it does not go with --page"));
    const auto s = session(parser.value(QStringLiteral("port")));
    showProgress(*s, messages::Progress::Reading, onePage ? 1 : kPageCount);
    if (onePage)
        s->commands.readOnePage(*onePage);
    else
        s->commands.ReadAllPages();
    endProgress();
    m_json = parser.isSet(QStringLiteral("json"));
    if (!s->commands.outcome().succeeded()) {
        const int failed = finish(*s);
        if (m_json)
            printOutcomeJson(*s, {}, failed);
        return failed;
    }

    printValues(
        QStringLiteral("port"), parser.value(QStringLiteral("port")), onePage,
        [&](int page, int item) { return s->fields.presentValue(page, item); },
        parser.isSet(QStringLiteral("json")));

    if (parser.isSet(QStringLiteral("o"))) {
        // Saved exactly as the window saves, refused as the window refuses.
        const QString path = parser.value(QStringLiteral("o"));
        s->prompts.savePath = path;
        s->commands.SaveSettingsFile();
        if (!s->commands.outcome().succeeded())
            return finish(*s, path);
    }
    if (!onePage)
        printFingerprint([&](int page, int item) { return s->fields.presentValue(page, item); },
                         m_json);
    return kSuccess;
}

int Runner::write(const QCommandLineParser &parser)
{
    int code = kSuccess;
    const std::optional<int> onePage = page(parser, &code);
    if (code != kSuccess)
        return code;
    if (parser.isSet(QStringLiteral("verify")) && parser.isSet(QStringLiteral("no-verify")))
        return usage(QStringLiteral("write takes --verify or --no-verify, not both"));
    const std::optional<int> station = expectedStation(parser, &code);
    if (code != kSuccess)
        return code;
    const QString file = parser.positionalArguments().value(1);
    const auto s = session(parser.value(QStringLiteral("port")));
    if (!loadFile(*s, file, &code))
        return code;

    // Loading goes by position: a line of circuit 2 standing where circuit 1's belongs would
    // write circuit 2's settings into circuit 1. A file the tool wrote never has one.
    if (const QList<int> misplaced = misplacedLabels(s->commands.loadedLines());
        !misplaced.isEmpty()) {
        printMisplacedLabels(*s, misplaced, QStringLiteral("nothing is sent"));
        return fail(kInvalid, messages::misplacedLabelsRefused(),
                    QStringLiteral("line labels of %1 are not those of their places; nothing "
                                   "was sent")
                        .arg(file));
    }
    // A script gets no red mark: what the window would send as "E" is refused here, before
    // even the link check.
    const int first = onePage.value_or(kCommonPage);
    const int last = onePage.value_or(kPageCount - 1);
    if (const int refused = refuseProblems(setValueProblems(s->fields, first, last), file,
                                           QStringLiteral("nothing was sent")))
        return refused;

    const int pages = last - first + 1;
    s->commands.setExpectedStation(station);
    s->prompts.confirm =
        confirmation(parser, messages::terminalWriteQuestion(device(*s), station, pages));
    s->commands.setVerifyAfterWrite(!parser.isSet(QStringLiteral("no-verify")));
    showProgress(*s, messages::Progress::Writing, pages);
    if (onePage)
        s->commands.writeOnePage(*onePage);
    else
        s->commands.WriteAllPages();
    endProgress();
    m_json = parser.isSet(QStringLiteral("json"));
    const int written = finish(*s, file);
    if (m_json)
        printOutcomeJson(*s, file, written);
    return written;
}

int Runner::clear(const QCommandLineParser &parser)
{
    const bool operation = parser.isSet(QStringLiteral("operation"));
    const bool maximum = parser.isSet(QStringLiteral("maximum"));
    if (operation == maximum)
        return usage(QStringLiteral("clear takes one of --operation and --maximum"));
    int code = kSuccess;
    const std::optional<int> station = expectedStation(parser, &code);
    if (code != kSuccess)
        return code;
    const auto s = session(parser.value(QStringLiteral("port")));
    s->fields.setClearOptions(operation, maximum);
    s->commands.setExpectedStation(station);
    s->prompts.confirm =
        confirmation(parser, messages::terminalClearQuestion(device(*s), station, operation));
    s->commands.ClearValues();
    return finish(*s);
}

int Runner::diff(const QCommandLineParser &parser)
{
    const QStringList files = parser.positionalArguments().mid(1);
    const bool withRelay = parser.isSet(QStringLiteral("port"));
    if (!withRelay && files.size() < 2)
        return usage(QStringLiteral("diff needs something to compare FILE.DT with: --port P (the "
                                    "relay) or a second settings file"));
    if (withRelay && files.size() == 2)
        return usage(QStringLiteral("diff takes either --port P or a second file, not both"));

    int code = kSuccess;
    const auto left = session(parser.value(QStringLiteral("port")));
    if (!loadFile(*left, files[0], &code))
        return code;
    // The right side: what the relay reports, or the other file's values.
    std::unique_ptr<Session> other;
    auto right = [&](int page, int item) {
        return withRelay ? reportedText(page, item, left->commands.reading(page)->reply)
                         : other->fields.setValue(page, item);
    };
    // Against a relay by the codes that travel, as verify compares; files by their values.
    auto same = [&](int page, int item, const QString &a, const QString &b) {
        return withRelay ? relayMatches(page, item, a, left->commands.reading(page)->reply)
                         : sameValue(page, item, a, b);
    };
    if (withRelay) {
        showProgress(*left, messages::Progress::Reading, kPageCount);
        left->commands.ReadAllPages();
        endProgress();
        if (!left->commands.outcome().succeeded())
            return finish(*left);
    } else {
        other = session(QString());
        if (!loadFile(*other, files[1], &code))
            return code;
    }

    const bool json = parser.isSet(QStringLiteral("json"));
    QJsonArray differences;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item) {
            const QString a = left->fields.setValue(page, item);
            const QString b = right(page, item);
            if (same(page, item, a, b))
                continue;
            const QString label = rowLabel(pageKind(page), item);
            differences.append(
                QJsonObject{{"page", page}, {"label", label}, {"left", a}, {"right", b}});
            if (!json)
                out(QStringLiteral("%1\t%2\t%3\t%4\n").arg(page).arg(label, a, b));
        }
    const QString leftPrint = shownFingerprint(
        fingerprint([&](int page, int item) { return left->fields.setValue(page, item); }));
    const QString rightPrint = shownFingerprint(fingerprint(right));
    if (json) {
        const QString rightName = withRelay ? parser.value(QStringLiteral("port")) : files[1];
        const QJsonObject object{
            {"left", files[0]},
            {"right", rightName},
            {"differences", differences},
            {"fingerprint", QJsonObject{{"left", leftPrint}, {"right", rightPrint}}}};
        m_console.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    } else {
        err(QStringLiteral("fingerprint: %1 left, %2 right\n").arg(leftPrint, rightPrint));
    }
    return differences.isEmpty() ? kSuccess : kDifferences;
}

int Runner::check(const QCommandLineParser &parser)
{
    const QString file = parser.positionalArguments().value(1);
    const auto s = session(QString());
    int code = kSuccess;
    if (!loadFile(*s, file, &code))
        return code;
    printValues(
        QStringLiteral("file"), file, std::nullopt,
        [&](int page, int item) { return s->fields.setValue(page, item); },
        parser.isSet(QStringLiteral("json")));
    // Loading goes by position: a label out of place means values land on another page.
    printMisplacedLabels(*s, misplacedLabels(s->commands.loadedLines()),
                         QStringLiteral("it is loaded as page %1 all the same; write refuses it"));
    const QList<ValueProblem> problems = setValueProblems(s->fields, kCommonPage, kPageCount - 1);
    if (problems.isEmpty()) // else there is none, and the problems say why
        printFingerprint([&](int page, int item) { return s->fields.setValue(page, item); },
                         parser.isSet(QStringLiteral("json")));
    return refuseProblems(problems, file, QStringLiteral("a write of it would be refused"));
}

std::optional<int> Runner::expectedStation(const QCommandLineParser &parser, int *code) const
{
    if (!parser.isSet(QStringLiteral("expect-station")))
        return std::nullopt;
    const QString text = parser.value(QStringLiteral("expect-station"));
    const std::optional<int> station = stationNumberValue(text);
    if (!station)
        *code = usage(QStringLiteral("--expect-station takes a station number, 000..255, not '%1'")
                          .arg(text));
    return station;
}

void Runner::printMisplacedLabels(const Session &session, const QList<int> &pages,
                                  const QString &consequence) const
{
    for (int page : pages)
        err(QStringLiteral("%1\t%2 (line %3 is labelled '%4', not '%5'; %6)\n")
                .arg(page)
                .arg(messages::misplacedLabel(page))
                .arg(page == kCommonPage ? 3 : page + 4)
                .arg(session.commands.loadedLines()[page].section(u',', 0, 0).section(u' ', 0, 0),
                     settingsFileLabel(page),
                     QString(consequence).replace(QLatin1String("%1"), QString::number(page))));
}

int Runner::set(const QCommandLineParser &parser)
{
    const QStringList arguments = parser.positionalArguments();
    const QString file = arguments.value(1);
    const QString target = parser.value(QStringLiteral("o"));
    if (target.isEmpty())
        return usage(QStringLiteral("set needs -o OUT.DT (it may name the file itself)"));
    QList<ItemChange> changes; // each checked before anything is read or written
    for (const QString &text : arguments.mid(2)) {
        ItemChange change = ItemChange::parse(text);
        if (change.parsed == ItemChange::Parsed::NotAChange)
            return usage(QStringLiteral("a change is PAGE:LABEL=VALUE, not '%1'").arg(text));
        if (change.parsed == ItemChange::Parsed::NoSuchItem)
            return fail(kInvalid, messages::noSuchItem(),
                        QStringLiteral("no item '%1' on page '%2' (0 common, 1..8 circuits); "
                                       "nothing was written")
                            .arg(change.label, change.pageText));
        if (const auto problem = writeProblem(change.page, change.item, change.value)) {
            err(problemLine({change.page, change.item, change.value, *problem}));
            return fail(kInvalid, messages::invalidSetValues(),
                        QStringLiteral("the relay does not know '%1' as %2, which takes %3; "
                                       "nothing was written")
                            .arg(change.value, rowLabel(pageKind(change.page), change.item),
                                 permittedValues(change.page, change.item)));
        }
        // A station number stands in a file with three digits, as the relay's are shown.
        if (change.page == kCommonPage && change.item == kStationItem)
            change.value =
                textOfCode(PageKind::Common, kStationItem, *stationNumberValue(change.value));
        changes.append(change);
    }

    const auto s = session(QString());
    int code = kSuccess;
    if (!loadFile(*s, file, &code))
        return code;
    for (const ItemChange &change : changes)
        s->fields.setSetValue(change.page, change.item, change.value);
    // Saved as the window saves edited values, and refused as it refuses them.
    s->prompts.savePath = target;
    s->commands.saveEditedSettingsFile();
    const Outcome &outcome = s->commands.outcome();
    if (outcome.kind == Outcome::Kind::InvalidSetValues)
        return refuseProblems(outcome.problems, file, QStringLiteral("nothing was written"));
    return finish(*s, target);
}

int Runner::find(const QCommandLineParser &parser)
{
    QStringList ports = parser.values(QStringLiteral("port"));
    if (ports.isEmpty())
        ports = relaySearchPorts(presentPorts(), {});
    const auto s = session(QString());
    s->commands.findRelays(ports);
    const Outcome &outcome = s->commands.outcome();
    qsizetype found = 0;
    for (const Probe &probe : outcome.probes) {
        if (probe.status == Probe::Status::Relay) {
            out(QStringLiteral("%1\t%2\n").arg(probe.port, probe.station));
            ++found;
        } else {
            err(probeLine(probe) + u'\n');
        }
    }
    // The window's report would name the port field it set; here there is none.
    if (outcome.succeeded()) {
        err(messages::relaysAnswered(found) + u'\n');
        return kSuccess;
    }
    return finish(*s);
}

} // namespace veltra::cli
