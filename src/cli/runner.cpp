#include "cli/runner.h"

#include "cli/commandtable.h"
#include "cli/outcomes.h"
#include "file/filenames.h"
#include "file/wholefile.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "site/sitelog.h"
#include "version.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// What the command line's handlers share: usage and failure reports, the progress, the
// question, the output of values and outcomes, and the dispatch by the command table.
namespace veltra::cli {

QString problemLine(const ValueProblem &problem)
{
    return QStringLiteral("%1\t%2\t%3\t%4\n")
        .arg(problem.page)
        .arg(rowLabel(pageKind(problem.page), problem.item), problem.text,
             messages::writeProblem(problem.problem));
}

int Runner::usage(const QString &problem) const
{
    err(QStringLiteral("veltra-cli: %1\n").arg(problem));
    err(QStringLiteral("Try 'veltra-cli --help'.\n"));
    return kUsage;
}

int Runner::fail(int code, const QString &japanese, const QString &english) const
{
    // The explanation goes with the message's first line; what a report adds below it (how
    // far a stopped write got) follows as it stands.
    const qsizetype lineEnd = japanese.indexOf(u'\n');
    err(QStringLiteral("%1 (%2)\n")
            .arg(japanese.first(lineEnd < 0 ? japanese.size() : lineEnd), english));
    if (lineEnd >= 0)
        err(japanese.sliced(lineEnd + 1) + u'\n');
    return code;
}

std::unique_ptr<Session> Runner::session(const QString &port) const
{
    SerialPort *line = m_console.serialPort ? m_console.serialPort() : createSerialPort(nullptr);
    auto made = std::make_unique<Session>(port, line);
    // What the line says about itself (Wine's framing, a slow adapter) goes where the link's
    // log goes.
    QObject::connect(line, &SerialPort::notice, line, [this](const LineNotice &notice) {
        if (lcLink().isInfoEnabled())
            err(messages::lineNotice(notice) + u'\n');
    });
    if (m_frameLog) {
        m_frameLog->follow(made->link);
        m_frameLog->follow(made->commands.finder());
    }
    if (StopRequests *stops = m_console.stops) {
        Commands *commands = &made->commands;
        if (stops->isRequested())
            commands->interrupt();
        QObject::connect(stops, &StopRequests::requested, commands, &Commands::interrupt);
    }
    return made;
}

QString Runner::device(const Session &session) const
{
    const std::optional<QString> name = systemPortName(session.fields.portText());
    return name ? *name : session.fields.portText();
}

std::optional<int> Runner::page(const QCommandLineParser &parser, int *code) const
{
    if (!parser.isSet(QStringLiteral("page")))
        return std::nullopt;
    bool ok = false;
    const QString text = parser.value(QStringLiteral("page"));
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value >= kPageCount) {
        *code = usage(QStringLiteral("--page takes 0 (common) to 8, not '%1'").arg(text));
        return -1;
    }
    return value;
}

int Runner::finish(const Session &session, const QString &fileName) const
{
    const Outcome &outcome = session.commands.outcome();
    if (outcome.succeeded()) {
        // The report goes where a person reads it; results alone go to standard output.
        const QString report = messages::report(outcome);
        if (!report.isEmpty())
            err(report + u'\n');
        return kSuccess;
    }
    const Verdict v = verdict(outcome, {device(session), fileName, m_noTerminal});
    if (outcome.kind == Outcome::Kind::NothingToClear)
        return usage(v.english);
    // Each item the relay did not take on its own line, as the window lists them.
    if (outcome.kind == Outcome::Kind::NotTaken && !m_json)
        for (const NotTakenItem &item : outcome.notTaken)
            out(messages::notTakenLine(item) + u'\n');
    return fail(v.exit, v.japanese, v.english);
}

void Runner::showProgress(Session &session, messages::Progress kind, int total)
{
    if (!m_console.errorIsTerminal)
        return;
    auto count = std::make_shared<int>(0);
    auto step = [this, kind, total, count] {
        ++*count;
        err(u'\r' + messages::progress(kind, std::min(*count, total), total));
        m_progressShown = true;
    };
    // Counted as the link tells what went on the line.
    if (kind == messages::Progress::Writing)
        QObject::connect(&session.link, &DeviceLink::writeFrameSent, step);
    else
        QObject::connect(&session.link, &DeviceLink::requestSent, step);
}

void Runner::endProgress()
{
    if (m_progressShown)
        err(QStringLiteral("\n"));
    m_progressShown = false;
}

std::function<int()> Runner::confirmation(const QCommandLineParser &parser, const QString &question)
{
    if (parser.isSet(QStringLiteral("yes")))
        return [] { return kAnswerYes; };
    return [this, question] {
        // Never a question nobody sees: with no terminal, nothing is sent.
        const std::optional<QString> typed = m_console.ask ? m_console.ask(question) : std::nullopt;
        if (!typed) {
            m_noTerminal = true;
            return kAnswerNo;
        }
        const QString answer = typed->trimmed().toLower();
        return answer == QLatin1String("y") || answer == QLatin1String("yes") ? kAnswerYes
                                                                              : kAnswerNo;
    };
}

bool Runner::loadFile(Session &session, const QString &path, int *code)
{
    // The window's loader, confirmed: the question it asks is the command line itself.
    session.prompts.confirm = [] { return kAnswerYes; };
    session.commands.loadSettingsFileFrom(path);
    session.prompts.confirm = nullptr;
    const Outcome &outcome = session.commands.outcome();
    if (outcome.succeeded())
        return true;
    if ((outcome.kind == Outcome::Kind::NotSettingsFile ||
         outcome.kind == Outcome::Kind::FileTooShort) &&
        outcome.utf8Text) {
        const Verdict v = verdict(outcome, {device(session), path, m_noTerminal});
        *code = fail(v.exit, v.japanese, v.english + QStringLiteral("; ") + savedAsUtf8Note());
        return false;
    }
    *code = finish(session, path);
    return false;
}

void Runner::printOutcomeJson(const Session &session, const QString &file, int code) const
{
    const Outcome &outcome = session.commands.outcome();
    const bool reading =
        outcome.command == CommandId::ReadPage || outcome.command == CommandId::ReadAll;
    const QList<int> &done = reading ? outcome.pagesRead : outcome.pagesSent;
    const int first =
        outcome.command == CommandId::ReadAll || outcome.command == CommandId::WriteAll
            ? kCommonPage
            : outcome.page;
    const int last = first == kCommonPage && outcome.command != CommandId::ReadPage &&
                             outcome.command != CommandId::WritePage
                         ? kPageCount - 1
                         : outcome.page;
    QJsonArray doneList, notDone, notTaken;
    for (int page = first; page <= last; ++page)
        (done.contains(page) ? doneList : notDone).append(page);
    for (const NotTakenItem &item : outcome.notTaken)
        notTaken.append(QJsonObject{{"page", item.page},
                                    {"label", rowLabel(pageKind(item.page), item.item)},
                                    {"written", item.written},
                                    {"present", item.present}});
    QJsonObject object{{"port", session.fields.portText()},
                       {"exit", code},
                       {"message", messages::report(outcome)}};
    if (reading) {
        object.insert("pagesRead", doneList);
        object.insert("pagesNotRead", notDone);
    } else {
        object.insert("file", file);
        object.insert("pagesSent", doneList);
        object.insert("pagesNotSent", notDone);
        object.insert("verified", outcome.verified);
        object.insert("notTaken", notTaken);
    }
    m_console.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

namespace {

// A page's items in the order the window shows its rows.
QList<int> screenOrder(int page)
{
    QList<int> items;
    for (int row = 0; row < itemCount(page); ++row)
        items << itemAtScreenRow(pageKind(page), row);
    return items;
}

} // namespace

void Runner::printValues(const QString &sourceKey, const QString &source,
                         std::optional<int> onePage, const std::function<QString(int, int)> &value,
                         bool json) const
{
    QList<int> pages;
    for (int p = onePage.value_or(0); p <= onePage.value_or(kPageCount - 1); ++p)
        pages << p;
    if (json) {
        QJsonArray list;
        for (int p : pages) {
            QJsonArray items; // by item, as the settings file and the codes go
            for (int item = 0; item < itemCount(p); ++item)
                items.append(QJsonObject{{"label", rowLabel(pageKind(p), item)},
                                         {"present", value(p, item)}});
            list.append(QJsonObject{{"page", p}, {"items", items}});
        }
        const QJsonObject object{{sourceKey, source},
                                 {"pages", list},
                                 {"fingerprint", shownFingerprint(fingerprint(value))}};
        m_console.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        return;
    }
    for (int p : pages)
        for (const int item : screenOrder(p))
            out(QStringLiteral("%1\t%2\t%3\n")
                    .arg(p)
                    .arg(rowLabel(pageKind(p), item), value(p, item)));
}

void Runner::printFingerprint(const ValueAt &value, bool json) const
{
    // Beside the values, not among them: scripts read stdout line by line as page, label, value.
    if (!json)
        err(QStringLiteral("fingerprint: %1\n").arg(shownFingerprint(fingerprint(value))));
}

int Runner::refuseProblems(const QList<ValueProblem> &problems, const QString &file,
                           const QString &consequence) const
{
    if (problems.isEmpty())
        return kSuccess;
    for (const ValueProblem &problem : problems)
        err(problemLine(problem));
    return fail(
        kInvalid, messages::invalidSetValues(),
        QStringLiteral("%1 value%2 in %3 cannot be written; %4")
            .arg(problems.size())
            .arg(problems.size() == 1 ? QString() : QStringLiteral("s"), file, consequence));
}

int Runner::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usage(QStringLiteral("a command is needed"));
    m_arguments = arguments;
    QStringList words = arguments;
    // A command of two words (site check) reaches the parser as one.
    if (const CommandRow *named = namedCommand(words);
        named && QLatin1String(named->name).contains(u' '))
        words[0] += u' ' + words.takeAt(1);
    const QString name = words.constFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        out(overview());
        return kSuccess;
    }
    if (name == QLatin1String("--version")) {
        out(QStringLiteral("veltra-cli %1\n").arg(QLatin1String(VELTRA_VERSION)));
        return kSuccess;
    }
    const CommandRow *command = findCommand(name);
    if (!command) {
        QStringList second; // what may follow a command's first word
        for (const CommandRow &row : commandTable())
            if (const QString full = QLatin1String(row.name); full.startsWith(name + u' '))
                second << full.mid(name.size() + 1);
        if (!second.isEmpty()) { // "site takes check, write or report"
            const QString last = second.takeLast();
            const QString first = second.join(QStringLiteral(", "));
            return usage(
                QStringLiteral("%1 takes %2")
                    .arg(name, first.isEmpty() ? last : first + QStringLiteral(" or ") + last));
        }
        return usage(QStringLiteral("unknown command '%1'").arg(name));
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Describes the command."));
    parser.addOption(helpOption);
    for (const OptionHelp &option : command->options) {
        const char *value = optionValueName(option.name);
        parser.addOption(
            value ? QCommandLineOption(QLatin1String(option.name), QString(), QLatin1String(value))
                  : QCommandLineOption(QLatin1String(option.name), QString()));
    }
    if (!parser.parse(QStringList{QStringLiteral("veltra-cli")} + words))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        out(commandHelp(*command));
        return kSuccess;
    }

    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() < command->minArguments ||
        (command->maxArguments >= 0 && positional.size() > command->maxArguments)) {
        if (command->maxArguments == 0)
            return usage(QStringLiteral("unexpected argument '%1'").arg(positional.constFirst()));
        return usage(QStringLiteral("usage: veltra-cli %1").arg(QLatin1String(command->synopsis)));
    }
    if (command->needsPort && parser.value(QStringLiteral("port")).isEmpty())
        return usage(QStringLiteral("%1 needs --port P").arg(name));
    return runCommand(*command, parser);
}

std::optional<int> Runner::openOutputs(const CommandRow &command, const QCommandLineParser &parser)
{
    const auto takes = [&command](const char *option) {
        return std::any_of(command.options.begin(), command.options.end(),
                           [option](const OptionHelp &o) { return qstrcmp(o.name, option) == 0; });
    };
    const QString logPath = takes("log") ? parser.value(QStringLiteral("log")) : QString();
    const QString target = takes("o") ? parser.value(QStringLiteral("o")) : QString();
    QStringList inputs = parser.positionalArguments().mid(1, command.settingsFiles);
    const bool site = QLatin1String(command.name).startsWith(QLatin1String("site "));
    // A site command also appends to the site log: the frame log is never that file either.
    if (site && !inputs.isEmpty())
        inputs << siteLogPath(inputs.constFirst());
    const auto refuse = [this](const QString &japanese, FileProblem problem, const QString &file) {
        return fail(kFileError, japanese,
                    fileProblemNote(problem, file) + QStringLiteral("; nothing was sent"));
    };
    // set may write its result over its own input: that is what it is for. The log is never
    // any file the command reads or writes besides it.
    if (!logPath.isEmpty())
        for (const QString &file : target.isEmpty() ? inputs : inputs + QStringList{target})
            if (sameFile(logPath, file))
                return refuse(messages::logSaveFailed(), FileProblem::SameAsInput, logPath);
    // A site's record never replaces the site file or its log (nor a design: siteReport).
    const QString targetFailed = site ? messages::pdfSaveFailed() : messages::saveFailed();
    if (site && !target.isEmpty())
        for (const QString &file : inputs)
            if (sameFile(target, file))
                return refuse(targetFailed, FileProblem::SameAsInput, target);
    if (!target.isEmpty())
        if (const FileProblem problem = checkSaveTarget(target); problem != FileProblem::None)
            return refuse(targetFailed, problem, target);
    if (logPath.isEmpty())
        return std::nullopt;
    if (const FileProblem problem = m_logFile.open(logPath); problem != FileProblem::None)
        return refuse(messages::logSaveFailed(), problem, logPath);
    // Each run appends under a line of its own: when, what, and on which port.
    QStringList ports = parser.values(QStringLiteral("port"));
    m_logIncomplete = !m_logFile.append(
        QStringLiteral("# %1  %2  %3  veltra-cli %4\n")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs),
                 QLatin1String(command.name),
                 ports.isEmpty() ? QStringLiteral("-") : ports.join(u','), m_arguments.join(u' '))
            .toUtf8());
    m_frameLog = std::make_unique<FrameLog>();
    QObject::connect(m_frameLog.get(), &FrameLog::entryAdded, m_frameLog.get(),
                     [this](const FrameLog::Entry &entry) {
                         if (!m_logFile.append((FrameLog::line(entry) + u'\n').toUtf8()))
                             m_logIncomplete = true;
                     });
    return std::nullopt;
}

int Runner::runCommand(const CommandRow &command, const QCommandLineParser &parser)
{
    if (const std::optional<int> refused = openOutputs(command, parser))
        return *refused;
    const int code = (this->*(command.handler))(parser);
    if (!m_frameLog || !m_logIncomplete)
        return code;
    // The command's own verdict stands; a log that was asked for and is missing is a failure.
    const int failed = fail(kFileError, messages::logSaveFailed(),
                            QStringLiteral("the frame log could not all be written to %1")
                                .arg(parser.value(QStringLiteral("log"))));
    return code == kSuccess ? failed : code;
}

int run(const QStringList &arguments, const Console &console)
{
    return Runner(console).run(arguments);
}

bool paints(const QStringList &arguments)
{
    const CommandRow *command = namedCommand(arguments);
    return command && command->paints;
}

} // namespace veltra::cli
