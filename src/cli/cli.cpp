#include "cli/cli.h"

#include "file/settingsfile.h"
#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/changes.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "settings/validation.h"
#include "version.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <optional>

namespace veltra::cli {
namespace {

// Every question and report of the operations, answered without a window. The command line
// reads how a command ended from Commands::outcome(), never from these texts.
class CliPrompts final : public UserPrompts
{
public:
    int ShowMessage(const QString &, int style) override
    {
        if (style == kStyleConfirm)
            return confirm ? confirm() : kAnswerNo;
        return kAnswerOk;
    }
    void ShowNotice(const QString &) override {}
    std::optional<QString> saveFileName() override { return savePath; }
    std::optional<QString> openFileName() override { return std::nullopt; }
    std::optional<QString> saveEditedFileName(const QString &) override { return savePath; }
    std::optional<QString> savePdfFileName(const QString &) override { return std::nullopt; }
    void ShowAbout(const QString &) override {}

    std::function<int()> confirm;
    std::optional<QString> savePath;
};

// One relay on one port: the window's operations on fields held in memory.
struct Session
{
    Session(const QString &port, SerialPort *line)
        : serial(line), link(*serial, fields), commands(link, fields, prompts)
    {
        fields.setPortText(port);
    }
    MemoryFields fields;
    CliPrompts prompts;
    std::unique_ptr<SerialPort> serial;
    DeviceLink link;
    Commands commands;
};

struct OptionRow
{
    const char *name;
    const char *value; // nullptr for a switch
};

constexpr OptionRow kOptions[] = {
    {"port", "P"},          {"page", "N"},          {"json", nullptr},
    {"o", "FILE.DT"},       {"yes", nullptr},       {"verify", nullptr},
    {"no-verify", nullptr}, {"operation", nullptr}, {"maximum", nullptr},
};

class Runner;
using Handler = int (Runner::*)(const QCommandLineParser &);

// One row per command: everything the command line knows of it.
struct CommandRow
{
    const char *name;
    const char *synopsis; // after "veltra-cli "; the overview lists these
    QList<const char *> options;
    bool needsPort;
    int minArguments; // after the command's name: settings files, changes
    int maxArguments; // -1: no limit
    Handler handler;
    const char *help; // what `veltra-cli NAME --help` adds below its synopsis
};

struct ExitRow
{
    int code;
    const char *meaning;
};

constexpr ExitRow kExitCodes[] = {
    {kSuccess, "success"},
    {kDifferences, "differences found, or items the relay did not take as written"},
    {kUsage, "usage error"},
    {kNoReply, "no reply from the relay, or a write frame that did not leave the port"},
    {kDataError, "data error (a reply that failed its checksum)"},
    {kPortUnusable, "the port cannot be used"},
    {kInvalid, "values that cannot be written, or not a settings file"},
    {kFileError, "a file could not be read or written"},
    {kDeclined, "not confirmed: nothing was sent"},
    {kNotVerified, "written, but the read-back failed: the pages were sent and not verified"},
};

class Runner
{
public:
    explicit Runner(const Console &console) : m_console(console) {}
    int run(const QStringList &arguments);

    int ports(const QCommandLineParser &parser);
    int read(const QCommandLineParser &parser);
    int write(const QCommandLineParser &parser);
    int clear(const QCommandLineParser &parser);
    int diff(const QCommandLineParser &parser);
    int check(const QCommandLineParser &parser);
    int set(const QCommandLineParser &parser);
    int find(const QCommandLineParser &parser);

private:
    void out(const QString &text) const { m_console.out(text.toUtf8()); }
    void err(const QString &text) const { m_console.err(text.toUtf8()); }
    int usage(const QString &problem) const;
    int fail(int code, const QString &japanese, const QString &english) const;
    std::unique_ptr<Session> session(const QString &port) const;
    std::optional<int> page(const QCommandLineParser &parser, int *code) const;
    // The exit code of a command's outcome, with its report and an explanation on stderr
    // when it is no success.
    int finish(const Session &session, const QString &fileName = {}) const;
    bool loadFile(Session &session, const QString &path, int *code);
    enum class Counting { Requests, WriteFrames };
    void showProgress(Session &session, Counting counting, int total);
    void endProgress();
    std::function<int()> confirmation(const QCommandLineParser &parser, const QString &question);
    QString device(const Session &session) const;
    // The values of every page, or of `onePage`, as read prints them.
    void printValues(const QString &sourceKey, const QString &source, std::optional<int> onePage,
                     const std::function<QString(int, int)> &value, bool json) const;
    // Lists each value that cannot be written on stderr; exit 6 when there is one.
    int refuseProblems(const QList<ValueProblem> &problems, const QString &file,
                       const QString &consequence) const;

    // With --json, what a read or write came to, as one object on standard output.
    void printOutcomeJson(const Session &session, const QString &file, int code) const;

    const Console &m_console;
    bool m_json = false; // standard output carries one JSON object and nothing else
    bool m_progressShown = false;
    bool m_noTerminal = false;
};

const QList<CommandRow> &commandTable()
{
    // clang-format off: each help text is laid out as --help prints it
    static const QList<CommandRow> table{
        {"ports",
         "ports",
         {},
         false,
         0,
         0,
         &Runner::ports,
         "Lists the serial ports present now, one per line: name<TAB>description.\n"},
        {"read",
         "read  --port P [--page N] [--json] [-o FILE.DT]",
         {"port", "page", "json", "o"},
         true,
         0,
         0,
         &Runner::read,
         "Reads the relay's nine pages of settings, or page N only, and prints one line per item:\n"
         "page<TAB>label<TAB>value, in item order.\n"
         "\n"
         "  --port P     the relay's port (required)\n"
         "  --page N     read page N only (0 common, 1..8 circuits)\n"
         "  --json       print one JSON object with \"port\" and \"pages\"; each page has \"page\" "
         "and\n"
         "               \"items\", each item \"label\" and \"present\". A read that fails prints\n"
         "               \"port\", \"exit\", \"message\", \"pagesRead\" and \"pagesNotRead\" instead\n"
         "  -o FILE.DT   also save the values as the window saves them; needs all nine pages,\n"
         "               so not with --page, and all of them from this relay\n"
         "\n"
         "A read of all pages that stops names the pages read before it, on stderr.\n"},
        {"write",
         "write FILE.DT --port P [--page N] [--no-verify] [--yes] [--json]",
         {"port", "page", "verify", "no-verify", "yes", "json"},
         true,
         1,
         1,
         &Runner::write,
         "Loads a settings file as the window does and refuses it, before anything is sent, when\n"
         "a value on the pages to write cannot be written (each listed on stderr as\n"
         "page<TAB>label<TAB>value<TAB>reason). Then asks for confirmation, checks the link with\n"
         "a read, writes all nine pages or page N only, and reads the written pages back: each\n"
         "item the relay did not take is printed and the exit status is 1.\n"
         "\n"
         "  --port P      the relay's port (required)\n"
         "  --page N      write page N only (0 common, 1..8 circuits)\n"
         "  --no-verify   do not read the written pages back (--verify, the default, is accepted)\n"
         "  --yes         write without asking. Without it the question is asked on the terminal\n"
         "                (also when the streams are redirected); with no terminal nothing is\n"
         "                sent\n"
         "  --json        print one JSON object: \"port\", \"file\", \"exit\", \"message\",\n"
         "                \"pagesSent\", \"pagesNotSent\", \"verified\" and \"notTaken\" (each item\n"
         "                with \"page\", \"label\", \"written\" and \"present\")\n"
         "\n"
         "When every frame left but reading them back failed, the pages sent are named and the\n"
         "exit status is 9: written, not verified.\n"},
        {"clear",
         "clear --port P (--operation | --maximum) [--yes]",
         {"port", "operation", "maximum", "yes"},
         true,
         0,
         0,
         &Runner::clear,
         "Clears the operation values or the maximum values the relay has stored, after a\n"
         "confirmation and a link check.\n"
         "\n"
         "  --port P      the relay's port (required)\n"
         "  --operation   clear the stored operation values\n"
         "  --maximum     clear the stored maximum values\n"
         "  --yes         clear without asking (see write)\n"},
        {"diff",
         "diff  FILE.DT (--port P | OTHER.DT) [--json]",
         {"port", "json"},
         false,
         1,
         2,
         &Runner::diff,
         "Compares a settings file with the relay's present settings (a read of all pages) or\n"
         "with another file, and prints each item that differs:\n"
         "page<TAB>label<TAB>left<TAB>right. Exits 1 when they differ, 0 when they are equal.\n"
         "\n"
         "  --port P     compare with the relay on this port\n"
         "  --json       print one JSON object with \"left\", \"right\" and \"differences\", each\n"
         "               difference with \"page\", \"label\", \"left\" and \"right\"\n"},
        {"check",
         "check FILE.DT [--json]",
         {"json"},
         false,
         1,
         1,
         &Runner::check,
         "Loads a settings file as the window does, without a relay, and prints its values as\n"
         "read prints a relay's: page<TAB>label<TAB>value. Every value that cannot be written is\n"
         "listed on stderr as page<TAB>label<TAB>value<TAB>reason; the exit status is then 6.\n"
         "\n"
         "  --json       print one JSON object as read does, with \"file\" in place of \"port\"\n"},
        {"set",
         "set   FILE.DT PAGE:LABEL=VALUE... -o OUT.DT",
         {"o"},
         false,
         2,
         -1,
         &Runner::set,
         "Changes named values of a settings file and saves the result as OUT.DT, which may be\n"
         "FILE.DT itself (it is replaced only once the new file is complete). PAGE is 0 (common)\n"
         "to 8, LABEL an item's label as read prints it, VALUE one the relay knows, for example\n"
         "3:絶縁監視動作感度設定=50(mA). A label or value the relay does not know, or a value of\n"
         "the file that cannot be written, exits 6 and writes nothing.\n"
         "\n"
         "  -o OUT.DT    where the result goes (required)\n"},
        {"find",
         "find  [--port P]...",
         {"port"},
         false,
         0,
         0,
         &Runner::find,
         "Sends a read of the common settings to every port given, or to every port present when\n"
         "none is, all at the same time, and prints one line per relay that answered:\n"
         "port<TAB>station. Ports that could not be opened or did not answer are named on stderr.\n"
         "Exits 0 when a relay answered, 3 when none did. Nothing but read requests is sent.\n"
         "\n"
         "  --port P     a port to try; give it once for each\n"},
    };
    // clang-format on
    return table;
}

const CommandRow *findCommand(const QString &name)
{
    for (const CommandRow &row : commandTable())
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

QString overview()
{
    QString text = QStringLiteral(
        "usage: veltra-cli COMMAND [options]\n"
        "\n"
        "Reads, writes, clears and compares the settings of a VELTRA relay over a serial line.\n"
        "\n");
    for (const CommandRow &row : commandTable())
        text += QStringLiteral("  veltra-cli %1\n").arg(QLatin1String(row.synopsis));
    text += QStringLiteral(
        "  veltra-cli --version\n"
        "\n"
        "P is a port number, 1..10 (COM1..COM10 on Windows, /dev/ttyS0../dev/ttyS9 on Linux), or "
        "a\n"
        "device name such as /dev/ttyUSB0 or COM12. N is a page: 0 the common settings, 1..8 the\n"
        "circuits.\n"
        "\n"
        "Exit status:\n");
    for (const ExitRow &exit : kExitCodes)
        text += QStringLiteral("  %1  %2\n").arg(exit.code).arg(QLatin1String(exit.meaning));
    text += QStringLiteral("\n'veltra-cli COMMAND --help' describes one command.\n");
    return text;
}

int exitCode(Outcome::Kind kind)
{
    using Kind = Outcome::Kind;
    switch (kind) {
    case Kind::Success:
        return kSuccess;
    case Kind::NotTaken:
        return kDifferences;
    case Kind::NoReply:
    case Kind::WriteFailed:
        return kNoReply;
    case Kind::DataError:
        return kDataError;
    case Kind::PortUnusable:
        return kPortUnusable;
    case Kind::InvalidSetValues:
    case Kind::InvalidPresentValues:
    case Kind::NotSettingsFile:
    case Kind::FileTooShort:
        return kInvalid;
    case Kind::FileUnreadable:
    case Kind::FileUnwritable:
        return kFileError;
    case Kind::Declined:
        return kDeclined;
    case Kind::NotVerified:
        return kNotVerified;
    case Kind::NothingToClear:
        break;
    }
    return kUsage;
}

QString linkReason(Outcome::Kind kind, const QString &port)
{
    switch (kind) {
    case Outcome::Kind::DataError:
        return QStringLiteral("the relay's reply on %1 failed its checksum").arg(port);
    case Outcome::Kind::PortUnusable:
        return QStringLiteral("cannot open %1: no such port, or it is in use or not permitted")
            .arg(port);
    default:
        return QStringLiteral("no complete reply from the relay on %1 within 3 s").arg(port);
    }
}

QString pageList(const QList<int> &pages)
{
    QStringList numbers;
    for (int page : pages)
        numbers << QString::number(page);
    return numbers.join(QStringLiteral(", "));
}

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
    err(QStringLiteral("%1 (%2)\n").arg(japanese.first(lineEnd < 0 ? japanese.size() : lineEnd),
                                         english));
    if (lineEnd >= 0)
        err(japanese.sliced(lineEnd + 1) + u'\n');
    return code;
}

std::unique_ptr<Session> Runner::session(const QString &port) const
{
    SerialPort *line = m_console.serialPort ? m_console.serialPort() : createSerialPort(nullptr);
    return std::make_unique<Session>(port, line);
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
    using Kind = Outcome::Kind;
    const Outcome &outcome = session.commands.outcome();
    const QString report = messages::report(outcome);
    const QString port = device(session);
    QString why;
    switch (outcome.kind) {
    case Kind::Success:
        // The report goes where a person reads it; results alone go to standard output.
        if (!report.isEmpty())
            err(report + u'\n');
        return kSuccess;
    case Kind::NoReply:
    case Kind::DataError:
    case Kind::PortUnusable:
        why = linkReason(outcome.kind, port);
        break;
    case Kind::NotVerified:
        return fail(kNotVerified, report,
                    QStringLiteral("pages sent: %1; reading them back failed (%2), so nothing "
                                   "was verified")
                        .arg(pageList(outcome.pagesSent), linkReason(outcome.linkFailure, port)));
    case Kind::WriteFailed:
        why = QStringLiteral("the frame of page %1 did not leave %2").arg(outcome.page).arg(port);
        break;
    case Kind::InvalidSetValues:
        why = QStringLiteral("values that cannot be written; nothing was sent");
        break;
    case Kind::InvalidPresentValues:
        why = outcome.command == CommandId::Save
                  ? QStringLiteral("a settings file needs all nine pages read, each value valid; "
                                   "nothing was saved")
                  : QStringLiteral("the relay answered the link check with a value the tool does "
                                   "not know; nothing was written");
        break;
    case Kind::NotSettingsFile:
        why = QStringLiteral("%1 is not a VELTRA settings file").arg(fileName);
        break;
    case Kind::FileTooShort:
        return fail(
            kInvalid, messages::notSettingsFile(),
            QStringLiteral("%1 has fewer than the 12 lines of a settings file").arg(fileName));
    case Kind::FileUnreadable:
        why = QStringLiteral("cannot read %1").arg(fileName);
        break;
    case Kind::FileUnwritable:
        why = QStringLiteral("cannot write %1").arg(fileName);
        break;
    case Kind::NotTaken:
        // Each item on its own line, as the window lists them; the verdict on stderr.
        if (!m_json)
            for (const NotTakenItem &item : outcome.notTaken)
                out(messages::notTakenLine(item) + u'\n');
        return fail(kDifferences, messages::notTaken(),
                    QStringLiteral("the relay did not take %1 item%2 as written")
                        .arg(outcome.notTaken.size())
                        .arg(outcome.notTaken.size() == 1 ? QString() : QStringLiteral("s")));
    case Kind::Declined: {
        const QString what = outcome.command == CommandId::Clear ? QStringLiteral("クリア")
                                                                 : QStringLiteral("書き込み");
        return fail(kDeclined, QStringLiteral("%1を中止しました。").arg(what),
                    m_noTerminal ? QStringLiteral("no terminal to confirm on: give --yes to run "
                                                  "from a script; nothing was sent")
                                 : QStringLiteral("not confirmed; nothing was sent"));
    }
    case Kind::NothingToClear:
        return usage(QStringLiteral("clear takes one of --operation and --maximum"));
    }
    const bool writing = outcome.command == CommandId::WritePage ||
                         outcome.command == CommandId::WriteAll ||
                         outcome.command == CommandId::Clear;
    if (writing && outcome.kind != Kind::InvalidSetValues &&
        outcome.kind != Kind::InvalidPresentValues)
        why +=
            outcome.pagesSent.isEmpty()
                ? QStringLiteral("; nothing was written")
                : QStringLiteral("; pages written before it: %1").arg(pageList(outcome.pagesSent));
    if (outcome.command == CommandId::ReadAll && !outcome.pagesRead.isEmpty())
        why += QStringLiteral("; pages read before it: %1").arg(pageList(outcome.pagesRead));
    return fail(exitCode(outcome.kind), report, why);
}

void Runner::showProgress(Session &session, Counting counting, int total)
{
    if (!m_console.errorIsTerminal)
        return;
    const QString verb =
        counting == Counting::WriteFrames ? QStringLiteral("書込中") : QStringLiteral("読込中");
    auto count = std::make_shared<int>(0);
    auto step = [this, verb, total, count](const QString &) {
        ++*count;
        err(QStringLiteral("\r%1 %2/%3").arg(verb).arg(std::min(*count, total)).arg(total));
        m_progressShown = true;
    };
    if (counting == Counting::WriteFrames)
        session.fields.onWrite = step;
    else
        session.fields.onRequest = step;
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
    session.commands.LoadSettingsFileFrom(path);
    session.prompts.confirm = nullptr;
    if (session.commands.outcome().succeeded())
        return true;
    *code = finish(session, path);
    return false;
}

int Runner::ports(const QCommandLineParser &)
{
    for (const PresentPort &port : presentPorts())
        out(port.description.isEmpty()
                ? port.name + u'\n'
                : QStringLiteral("%1\t%2\n").arg(port.name, port.description));
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
    showProgress(*s, Counting::Requests, onePage ? 1 : kPageCount);
    if (onePage)
        s->commands.pageButton(*onePage, 0);
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
    const QString file = parser.positionalArguments().value(1);
    const auto s = session(parser.value(QStringLiteral("port")));
    if (!loadFile(*s, file, &code))
        return code;

    // A script gets no red mark: what the window would send as "E" is refused here, before
    // even the link check.
    const int first = onePage.value_or(kCommonPage);
    const int last = onePage.value_or(kPageCount - 1);
    if (const int refused = refuseProblems(setValueProblems(s->fields, first, last), file,
                                           QStringLiteral("nothing was sent")))
        return refused;

    const int pages = last - first + 1;
    s->prompts.confirm =
        confirmation(parser, QStringLiteral("write %1 page%2 to %3? [y/N] ")
                                 .arg(pages)
                                 .arg(pages == 1 ? QString() : QStringLiteral("s"), device(*s)));
    s->commands.setVerifyAfterWrite(!parser.isSet(QStringLiteral("no-verify")));
    showProgress(*s, Counting::WriteFrames, pages);
    if (onePage)
        s->commands.pageButton(*onePage, 2);
    else
        s->commands.WriteAllPages();
    endProgress();
    m_json = parser.isSet(QStringLiteral("json"));
    const int written = finish(*s, file);
    if (m_json)
        printOutcomeJson(*s, file, written);
    return written;
}

void Runner::printOutcomeJson(const Session &session, const QString &file, int code) const
{
    const Outcome &outcome = session.commands.outcome();
    const bool reading = outcome.command == CommandId::ReadPage ||
                         outcome.command == CommandId::ReadAll;
    const QList<int> &done = reading ? outcome.pagesRead : outcome.pagesSent;
    const int first = outcome.command == CommandId::ReadAll ||
                              outcome.command == CommandId::WriteAll
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

int Runner::clear(const QCommandLineParser &parser)
{
    const bool operation = parser.isSet(QStringLiteral("operation"));
    const bool maximum = parser.isSet(QStringLiteral("maximum"));
    if (operation == maximum)
        return usage(QStringLiteral("clear takes one of --operation and --maximum"));
    const auto s = session(parser.value(QStringLiteral("port")));
    s->fields.setClearOptions(operation, maximum);
    s->prompts.confirm = confirmation(
        parser,
        QStringLiteral("clear the stored %1 values on %2? [y/N] ")
            .arg(operation ? QStringLiteral("operation") : QStringLiteral("maximum"), device(*s)));
    s->commands.ClearValues();
    return finish(*s);
}

int Runner::diff(const QCommandLineParser &parser)
{
    const QStringList files = parser.positionalArguments().mid(1);
    const bool withRelay = parser.isSet(QStringLiteral("port"));
    if (withRelay == (files.size() == 2))
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
        if (withRelay && relayHolds(page, item, a, left->commands.reading(page)->reply))
            return true;
        return sameValue(page, item, a, b);
    };
    if (withRelay) {
        showProgress(*left, Counting::Requests, kPageCount);
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
    if (json) {
        const QString rightName = withRelay ? parser.value(QStringLiteral("port")) : files[1];
        const QJsonObject object{
            {"left", files[0]}, {"right", rightName}, {"differences", differences}};
        m_console.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    }
    return differences.isEmpty() ? kSuccess : kDifferences;
}

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
            QJsonArray items;
            for (int item = 0; item < itemCount(p); ++item)
                items.append(QJsonObject{{"label", rowLabel(pageKind(p), item)},
                                         {"present", value(p, item)}});
            list.append(QJsonObject{{"page", p}, {"items", items}});
        }
        const QJsonObject object{{sourceKey, source}, {"pages", list}};
        m_console.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        return;
    }
    for (int p : pages)
        for (int item = 0; item < itemCount(p); ++item)
            out(QStringLiteral("%1\t%2\t%3\n")
                    .arg(p)
                    .arg(rowLabel(pageKind(p), item), value(p, item)));
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
    for (int page : misplacedLabels(s->commands.loadedLines()))
        err(QStringLiteral("%1\t%2 の行に別のラベルがあります (line %3 is labelled '%4', not '%2'; "
                           "it is loaded as page %1 all the same)\n")
                .arg(page)
                .arg(settingsFileLabel(page))
                .arg(page == kCommonPage ? 3 : page + 4)
                .arg(s->commands.loadedLines()[page].section(u',', 0, 0).section(u' ', 0, 0)));
    return refuseProblems(setValueProblems(s->fields, kCommonPage, kPageCount - 1), file,
                          QStringLiteral("a write of it would be refused"));
}

int Runner::set(const QCommandLineParser &parser)
{
    const QStringList arguments = parser.positionalArguments();
    const QString file = arguments.value(1);
    const QString target = parser.value(QStringLiteral("o"));
    if (target.isEmpty())
        return usage(QStringLiteral("set needs -o OUT.DT (it may name the file itself)"));
    QList<ValueProblem> changes; // the changes, each checked before anything is read or written
    for (const QString &change : arguments.mid(2)) {
        const qsizetype colon = change.indexOf(u':');
        const qsizetype equals = change.indexOf(u'=', colon + 1);
        if (colon < 0 || equals < 0)
            return usage(QStringLiteral("a change is PAGE:LABEL=VALUE, not '%1'").arg(change));
        bool isNumber = false;
        const int page = change.first(colon).toInt(&isNumber);
        const QString label = change.sliced(colon + 1, equals - colon - 1);
        const QString value = change.sliced(equals + 1);
        int item = -1;
        for (int i = 0; isNumber && i < itemCount(page); ++i)
            if (rowLabel(pageKind(page), i) == label)
                item = i;
        if (item < 0)
            return fail(kInvalid, QStringLiteral("その項目はありません。"),
                        QStringLiteral("no item '%1' on page '%2' (0 common, 1..8 circuits); "
                                       "nothing was written")
                            .arg(label, change.first(colon)));
        if (const auto problem = writeProblem(page, item, value)) {
            err(problemLine({page, item, value, *problem}));
            return fail(kInvalid, messages::invalidSetValues(),
                        QStringLiteral("the relay does not know '%1' as %2; nothing was written")
                            .arg(value, label));
        }
        // A station number stands in a file with three digits, as the relay's are shown.
        const bool station = page == kCommonPage && item == kStationItem;
        changes.append(
            {page, item,
             station ? textOfCode(PageKind::Common, item, *stationNumberValue(value)) : value,
             WriteProblem::NotChosen});
    }

    const auto s = session(QString());
    int code = kSuccess;
    if (!loadFile(*s, file, &code))
        return code;
    for (const ValueProblem &change : changes)
        s->fields.setSetValue(change.page, change.item, change.text);
    // Saved as the window saves edited values, and refused as it refuses them.
    s->prompts.savePath = target;
    s->commands.SaveEditedSettingsFile();
    const Outcome &outcome = s->commands.outcome();
    if (outcome.kind == Outcome::Kind::InvalidSetValues)
        return refuseProblems(outcome.problems, file, QStringLiteral("nothing was written"));
    return finish(*s, target);
}

int Runner::find(const QCommandLineParser &parser)
{
    QStringList ports = parser.values(QStringLiteral("port"));
    if (ports.isEmpty())
        for (const PresentPort &port : presentPorts())
            ports << port.name;
    const auto s = session(QString());
    s->commands.FindRelays(ports);
    const Outcome &outcome = s->commands.outcome();
    for (const Probe &probe : outcome.probes) {
        switch (probe.status) {
        case Probe::Status::Relay:
            out(QStringLiteral("%1\t%2\n").arg(probe.port, probe.station));
            break;
        case Probe::Status::Unusable:
            err(QStringLiteral("%1\t%2 (cannot open: in use by another program, or not there)\n")
                    .arg(probe.port, DeviceLink::linkErrorMessage(kLinkPortUnusable)));
            break;
        case Probe::Status::Silent:
            err(QStringLiteral("%1\t応答なし (no reply within 3 s)\n").arg(probe.port));
            break;
        case Probe::Status::Unreadable:
            err(QStringLiteral("%1\t%2 (answers, but a read would reject the reply: %3)\n")
                    .arg(probe.port, messages::replyProblem(probe.verdict),
                         probe.verdict == ReplyVerdict::StrayBeforeStx ? "bytes before its STX"
                         : probe.verdict == ReplyVerdict::BadChecksum  ? "bad checksum"
                                                                       : "no complete reply"));
            break;
        }
    }
    if (outcome.succeeded())
        return kSuccess;
    return fail(exitCode(outcome.kind), QStringLiteral("リレーは見つかりませんでした。"),
                QStringLiteral("no relay answered on %1 port%2")
                    .arg(outcome.probes.size())
                    .arg(outcome.probes.size() == 1 ? QString() : QStringLiteral("s")));
}

int Runner::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usage(QStringLiteral("a command is needed"));
    const QString name = arguments.constFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        out(overview());
        return kSuccess;
    }
    if (name == QLatin1String("--version")) {
        out(QStringLiteral("veltra-cli %1\n").arg(QLatin1String(VELTRA_VERSION)));
        return kSuccess;
    }
    const CommandRow *command = findCommand(name);
    if (!command)
        return usage(QStringLiteral("unknown command '%1'").arg(name));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Describes the command."));
    parser.addOption(helpOption);
    for (const char *option : command->options) {
        for (const OptionRow &known : kOptions) {
            if (qstrcmp(known.name, option) != 0)
                continue;
            parser.addOption(known.value
                                 ? QCommandLineOption(QLatin1String(known.name), QString(),
                                                      QLatin1String(known.value))
                                 : QCommandLineOption(QLatin1String(known.name), QString()));
        }
    }
    if (!parser.parse(QStringList{QStringLiteral("veltra-cli")} + arguments))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        out(QStringLiteral("usage: veltra-cli %1\n\n%2")
                .arg(QLatin1String(command->synopsis), QLatin1String(command->help)));
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
    return (this->*(command->handler))(parser);
}

} // namespace

int run(const QStringList &arguments, const Console &console)
{
    return Runner(console).run(arguments);
}

} // namespace veltra::cli
