#include "cli/cli.h"

#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/changes.h"
#include "settings/items.h"
#include "settings/memoryfields.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>

#include <memory>
#include <optional>

namespace veltra::cli {
namespace {

constexpr char kVersion[] = "2.1.0";

const QString kOverview = QStringLiteral(
    "usage: veltra-cli COMMAND [options]\n"
    "\n"
    "Reads, writes, clears and compares the settings of a VELTRA relay over a serial line.\n"
    "\n"
    "  veltra-cli ports\n"
    "  veltra-cli read  --port P [--page N] [--json] [-o FILE.DT]\n"
    "  veltra-cli write FILE.DT --port P [--page N] [--verify] [--yes]\n"
    "  veltra-cli clear --port P (--operation | --maximum) [--yes]\n"
    "  veltra-cli diff  FILE.DT (--port P | OTHER.DT) [--json]\n"
    "  veltra-cli --version\n"
    "\n"
    "P is a port number, 1..10 (COM1..COM10 on Windows, /dev/ttyS0../dev/ttyS9 on Linux), or a\n"
    "device name such as /dev/ttyUSB0 or COM12. N is a page: 0 the common settings, 1..8 the\n"
    "circuits.\n"
    "\n"
    "Exit status: 0 success, 1 differences found, 2 usage error (or a change not confirmed),\n"
    "3 no reply, 4 data error, 5 port unusable, 6 invalid values or not a settings file,\n"
    "7 file could not be read or written.\n"
    "\n"
    "'veltra-cli COMMAND --help' describes one command.\n");

struct CommandHelp
{
    const char *name;
    const char *text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"ports", "usage: veltra-cli ports\n"
              "\n"
              "Lists the serial ports present now, one per line: name<TAB>description.\n"},
    {"read",
     "usage: veltra-cli read --port P [--page N] [--json] [-o FILE.DT]\n"
     "\n"
     "Reads the relay's nine pages of settings, or page N only, and prints one line per item:\n"
     "page<TAB>label<TAB>value, in item order.\n"
     "\n"
     "  --port P     the relay's port (required)\n"
     "  --page N     read page N only (0 common, 1..8 circuits)\n"
     "  --json       print one JSON object: {\"port\": P, \"pages\": [{\"page\": 0, \"items\":\n"
     "               [{\"label\": ..., \"present\": ...}, ...]}, ...]}\n"
     "  -o FILE.DT   also save the values as the window saves them; needs all nine pages\n"},
    {"write",
     "usage: veltra-cli write FILE.DT --port P [--page N] [--verify] [--yes]\n"
     "\n"
     "Loads a settings file as the window does, checks its values, asks for confirmation, checks\n"
     "the link with a read and writes all nine pages, or page N only.\n"
     "\n"
     "  --port P     the relay's port (required)\n"
     "  --page N     write page N only (0 common, 1..8 circuits)\n"
     "  --verify     read the written pages back; each item the relay did not take is printed\n"
     "               and the exit status is 1\n"
     "  --yes        write without asking. Without it the question is asked on the terminal;\n"
     "               with no terminal nothing is sent\n"},
    {"clear", "usage: veltra-cli clear --port P (--operation | --maximum) [--yes]\n"
              "\n"
              "Clears the operation values or the maximum values the relay has stored, after a\n"
              "confirmation and a link check.\n"
              "\n"
              "  --port P      the relay's port (required)\n"
              "  --operation   clear the stored operation values\n"
              "  --maximum     clear the stored maximum values\n"
              "  --yes         clear without asking (see write)\n"},
    {"diff",
     "usage: veltra-cli diff FILE.DT (--port P | OTHER.DT) [--json]\n"
     "\n"
     "Compares a settings file with the relay's present settings (a read of all pages) or with\n"
     "another file, and prints each item that differs: page<TAB>label<TAB>left<TAB>right.\n"
     "Exits 1 when they differ, 0 when they are equal.\n"
     "\n"
     "  --port P     compare with the relay on this port\n"
     "  --json       print one JSON object: {\"left\": ..., \"right\": ..., \"differences\":\n"
     "               [{\"page\": 3, \"label\": ..., \"left\": ..., \"right\": ...}, ...]}\n"},
};

// A JSON string, escaped as JSON needs.
QByteArray json(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.sliced(1, array.size() - 2); // without the brackets
}

// Keys in the order the documentation shows them: QJsonObject would sort them.
QByteArray jsonObject(const QList<std::pair<const char *, QByteArray>> &members)
{
    QByteArray text = "{";
    for (const auto &[key, value] : members) {
        if (text.size() > 1)
            text += ", ";
        text += '"' + QByteArray(key) + "\": " + value;
    }
    return text + '}';
}

QByteArray jsonList(const QList<QByteArray> &values)
{
    return '[' + values.join(", ") + ']';
}

QString commandHelp(const QString &name)
{
    for (const CommandHelp &help : kCommandHelp)
        if (name == QLatin1String(help.name))
            return QString::fromLatin1(help.text);
    return {};
}

// Every question and report of the operations, answered without a window.
class CliPrompts final : public UserPrompts
{
public:
    int ShowMessage(const QString &text, int style) override
    {
        if (style == kStyleConfirm)
            return confirm ? confirm(text) : kAnswerNo;
        notices << text;
        return kAnswerOk;
    }
    std::optional<QString> saveFileName() override { return savePath; }
    std::optional<QString> openFileName() override { return std::nullopt; }
    std::optional<QString> savePdfFileName(const QString &) override { return std::nullopt; }
    void ShowAbout(const QString &) override {}

    QString lastNotice() const { return notices.isEmpty() ? QString() : notices.constLast(); }

    std::function<int(const QString &)> confirm;
    QStringList notices;
    std::optional<QString> savePath;
};

// One relay on one port: the window's operations on fields held in memory.
struct Session
{
    explicit Session(const QString &port)
        : serial(createSerialPort(nullptr)), link(*serial, fields), commands(link, fields, prompts)
    {
        fields.setPortText(port);
    }
    MemoryFields fields;
    CliPrompts prompts;
    std::unique_ptr<SerialPort> serial;
    DeviceLink link;
    Commands commands;
};

class Runner
{
public:
    explicit Runner(const Console &console) : m_console(console) {}
    int run(const QStringList &arguments);

private:
    int ports();
    int read(const QCommandLineParser &parser);
    int write(const QCommandLineParser &parser);
    int clear(const QCommandLineParser &parser);
    int diff(const QCommandLineParser &parser);

    void out(const QString &text) const { m_console.out(text.toUtf8()); }
    void err(const QString &text) const { m_console.err(text.toUtf8()); }
    int usage(const QString &problem) const;
    int fail(int code, const QString &japanese, const QString &english) const;
    std::optional<int> page(const QCommandLineParser &parser, int *code) const;
    // The exit code an operation's last report stands for, with the report on stderr when it
    // is no success; nullopt on success.
    std::optional<int> outcome(const Session &session, const QString &fileName = {}) const;
    bool loadFile(Session &session, const QString &path, int *code);
    enum class Counting { Requests, WriteFrames };
    void showProgress(Session &session, Counting counting, int total);
    void endProgress();
    int confirmOnTerminal(const QString &question);
    QString device(const Session &session) const;

    const Console &m_console;
    bool m_progressShown = false;
    bool m_refusedWithoutTerminal = false;
    bool m_declined = false;
};

int Runner::usage(const QString &problem) const
{
    err(QStringLiteral("veltra-cli: %1\n").arg(problem));
    err(QStringLiteral("Try 'veltra-cli --help'.\n"));
    return kUsage;
}

int Runner::fail(int code, const QString &japanese, const QString &english) const
{
    err(QStringLiteral("%1 (%2)\n").arg(japanese, english));
    return code;
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

std::optional<int> Runner::outcome(const Session &session, const QString &fileName) const
{
    const QString notice = session.prompts.lastNotice();
    const QString port = device(session);
    if (notice == DeviceLink::linkErrorMessage(kLinkNoReply))
        return fail(kNoReply, notice,
                    QStringLiteral("no complete reply from the relay on %1 within 3 s").arg(port));
    if (notice == DeviceLink::linkErrorMessage(kLinkDataError))
        return fail(kDataError, notice,
                    QStringLiteral("the relay's reply on %1 failed its checksum").arg(port));
    if (notice == DeviceLink::linkErrorMessage(kLinkPortUnusable))
        return fail(kPortUnusable, notice,
                    QStringLiteral("cannot open %1: no such port, or it is in use or not "
                                   "permitted")
                        .arg(port));
    if (notice == messages::invalidSetValues()) {
        QStringList items;
        for (int page = 0; page < kPageCount; ++page)
            for (int item = 0; item < itemCount(page); ++item) {
                const QString value = session.fields.setValue(page, item);
                const bool station = page == kCommonPage && item == kStationItem;
                if (value == notLoadedText() || value == errorText() ||
                    (station && !stationNumberValue(value)))
                    items << QStringLiteral("page %1 %2 \"%3\"")
                                 .arg(page)
                                 .arg(rowLabel(pageKind(page), item), value);
            }
        return fail(kInvalid, notice,
                    QStringLiteral("values that cannot be written: %1; nothing was sent")
                        .arg(items.join(QStringLiteral(", "))));
    }
    if (notice == messages::invalidPresentValues())
        return fail(kInvalid, notice,
                    QStringLiteral("the relay answered the link check with a value the tool "
                                   "does not know; nothing was written"));
    if (notice == messages::saveRefused())
        return fail(kInvalid, notice,
                    QStringLiteral("a settings file needs all nine pages read, each value "
                                   "valid; nothing was saved"));
    if (notice == messages::saveFailed())
        return fail(kFileError, notice, QStringLiteral("cannot write %1").arg(fileName));
    if (notice == messages::notSettingsFile())
        return fail(kInvalid, notice,
                    QStringLiteral("%1 is not a VELTRA settings file").arg(fileName));
    if (notice == messages::unreadable())
        return fail(kFileError, notice, QStringLiteral("cannot read %1").arg(fileName));
    return std::nullopt;
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

int Runner::confirmOnTerminal(const QString &question)
{
    if (!m_console.inputIsTerminal) {
        m_refusedWithoutTerminal = true;
        return kAnswerNo;
    }
    err(question);
    const QString answer = m_console.readLine().trimmed().toLower();
    const bool yes = answer == QLatin1String("y") || answer == QLatin1String("yes");
    m_declined = !yes;
    return yes ? kAnswerYes : kAnswerNo;
}

bool Runner::loadFile(Session &session, const QString &path, int *code)
{
    // The window's loader, confirmed: the question it asks is the command line itself.
    session.prompts.confirm = [](const QString &) { return kAnswerYes; };
    session.prompts.notices.clear();
    session.commands.LoadSettingsFileFrom(path);
    session.prompts.confirm = nullptr;
    if (session.prompts.lastNotice() == messages::loaded()) {
        session.prompts.notices.clear();
        return true;
    }
    if (const std::optional<int> failed = outcome(session, path)) {
        *code = *failed;
        return false;
    }
    // The window ends without a word on a file of fewer than twelve lines.
    *code = fail(kInvalid, messages::notSettingsFile(),
                 QStringLiteral("%1 has fewer than the 12 lines of a settings file").arg(path));
    return false;
}

int Runner::ports()
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
    Session session(parser.value(QStringLiteral("port")));
    showProgress(session, Counting::Requests, onePage ? 1 : kPageCount);
    if (onePage)
        session.commands.pageButton(*onePage, 0);
    else
        session.commands.ReadAllPages();
    endProgress();
    if (const std::optional<int> failed = outcome(session))
        return *failed;

    QList<int> pages;
    for (int p = onePage.value_or(0); p <= onePage.value_or(kPageCount - 1); ++p)
        pages << p;
    if (parser.isSet(QStringLiteral("json"))) {
        QList<QByteArray> list;
        for (int p : pages) {
            QList<QByteArray> items;
            for (int item = 0; item < itemCount(p); ++item)
                items << jsonObject({{"label", json(rowLabel(pageKind(p), item))},
                                     {"present", json(session.fields.presentValue(p, item))}});
            list << jsonObject({{"page", QByteArray::number(p)}, {"items", jsonList(items)}});
        }
        m_console.out(jsonObject({{"port", json(parser.value(QStringLiteral("port")))},
                                  {"pages", jsonList(list)}}) +
                      '\n');
    } else {
        for (int p : pages)
            for (int item = 0; item < itemCount(p); ++item)
                out(QStringLiteral("%1\t%2\t%3\n")
                        .arg(p)
                        .arg(rowLabel(pageKind(p), item), session.fields.presentValue(p, item)));
    }

    if (parser.isSet(QStringLiteral("o"))) {
        // Saved exactly as the window saves, refused as the window refuses.
        const QString path = parser.value(QStringLiteral("o"));
        session.prompts.notices.clear();
        session.prompts.savePath = path;
        session.commands.SaveSettingsFile();
        if (const std::optional<int> failed = outcome(session, path))
            return *failed;
    }
    return kSuccess;
}

int Runner::write(const QCommandLineParser &parser)
{
    int code = kSuccess;
    const std::optional<int> onePage = page(parser, &code);
    if (code != kSuccess)
        return code;
    const QString file = parser.positionalArguments().value(1);
    Session session(parser.value(QStringLiteral("port")));
    if (!loadFile(session, file, &code))
        return code;

    const int pages = onePage ? 1 : kPageCount;
    const bool yes = parser.isSet(QStringLiteral("yes"));
    session.prompts.confirm = [&](const QString &) {
        if (yes)
            return kAnswerYes;
        return confirmOnTerminal(
            QStringLiteral("write %1 page%2 to %3? [y/N] ")
                .arg(pages)
                .arg(pages == 1 ? QString() : QStringLiteral("s"), device(session)));
    };
    session.commands.setVerifyAfterWrite(parser.isSet(QStringLiteral("verify")));
    showProgress(session, Counting::WriteFrames, pages);
    if (onePage)
        session.commands.pageButton(*onePage, 2);
    else
        session.commands.WriteAllPages();
    endProgress();
    if (m_refusedWithoutTerminal)
        return fail(kUsage, QStringLiteral("書き込みを中止しました。"),
                    QStringLiteral("no terminal to confirm the write on: give --yes to write "
                                   "from a script; nothing was sent"));
    if (m_declined)
        return fail(kUsage, QStringLiteral("書き込みを中止しました。"),
                    QStringLiteral("not confirmed; nothing was sent"));
    if (const std::optional<int> failed = outcome(session, file))
        return *failed;
    const QString notice = session.prompts.lastNotice();
    if (notice.endsWith(messages::notTaken())) {
        // Each item on its own line, as the window lists them; the verdict on stderr.
        QStringList lines = notice.split(u'\n');
        lines.removeLast();
        for (const QString &line : lines)
            out(line + u'\n');
        return fail(kDifferences, messages::notTaken(),
                    QStringLiteral("the relay did not take %1 item%2 as written")
                        .arg(lines.size())
                        .arg(lines.size() == 1 ? QString() : QStringLiteral("s")));
    }
    err(notice + u'\n');
    return kSuccess;
}

int Runner::clear(const QCommandLineParser &parser)
{
    const bool operation = parser.isSet(QStringLiteral("operation"));
    const bool maximum = parser.isSet(QStringLiteral("maximum"));
    if (operation == maximum)
        return usage(QStringLiteral("clear takes one of --operation and --maximum"));
    Session session(parser.value(QStringLiteral("port")));
    session.fields.setClearOptions(operation, maximum);
    const bool yes = parser.isSet(QStringLiteral("yes"));
    session.prompts.confirm = [&](const QString &) {
        if (yes)
            return kAnswerYes;
        return confirmOnTerminal(
            QStringLiteral("clear the stored %1 values on %2? [y/N] ")
                .arg(operation ? QStringLiteral("operation") : QStringLiteral("maximum"),
                     device(session)));
    };
    session.commands.ClearValues();
    if (m_refusedWithoutTerminal)
        return fail(kUsage, QStringLiteral("クリアを中止しました。"),
                    QStringLiteral("no terminal to confirm on: give --yes to clear from a "
                                   "script; nothing was sent"));
    if (m_declined)
        return fail(kUsage, QStringLiteral("クリアを中止しました。"),
                    QStringLiteral("not confirmed; nothing was sent"));
    if (const std::optional<int> failed = outcome(session))
        return *failed;
    err(session.prompts.lastNotice() + u'\n');
    return kSuccess;
}

int Runner::diff(const QCommandLineParser &parser)
{
    const QStringList files = parser.positionalArguments().mid(1);
    const bool withRelay = parser.isSet(QStringLiteral("port"));
    if (files.isEmpty() || files.size() > 2)
        return usage(QStringLiteral("diff compares one settings file with --port P or with a "
                                    "second file"));
    if (withRelay == (files.size() == 2))
        return usage(QStringLiteral("diff takes either --port P or a second file, not both"));

    int code = kSuccess;
    Session left(parser.value(QStringLiteral("port")));
    if (!loadFile(left, files[0], &code))
        return code;
    // The right side: the relay's present values, or the other file's values.
    std::unique_ptr<Session> other;
    auto right = [&](int page, int item) {
        return withRelay ? left.fields.presentValue(page, item)
                         : other->fields.setValue(page, item);
    };
    if (withRelay) {
        showProgress(left, Counting::Requests, kPageCount);
        left.commands.ReadAllPages();
        endProgress();
        if (const std::optional<int> failed = outcome(left))
            return *failed;
    } else {
        other = std::make_unique<Session>(QString());
        if (!loadFile(*other, files[1], &code))
            return code;
    }

    QList<QByteArray> differences;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item) {
            const QString a = left.fields.setValue(page, item);
            const QString b = right(page, item);
            if (sameValue(page, item, a, b))
                continue;
            const QString label = rowLabel(pageKind(page), item);
            differences << jsonObject({{"page", QByteArray::number(page)},
                                       {"label", json(label)},
                                       {"left", json(a)},
                                       {"right", json(b)}});
            if (!parser.isSet(QStringLiteral("json")))
                out(QStringLiteral("%1\t%2\t%3\t%4\n").arg(page).arg(label, a, b));
        }
    if (parser.isSet(QStringLiteral("json"))) {
        const QString rightName = withRelay ? parser.value(QStringLiteral("port")) : files[1];
        m_console.out(jsonObject({{"left", json(files[0])},
                                  {"right", json(rightName)},
                                  {"differences", jsonList(differences)}}) +
                      '\n');
    }
    return differences.isEmpty() ? kSuccess : kDifferences;
}

int Runner::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usage(QStringLiteral("a command is needed"));
    const QString command = arguments.constFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out(kOverview);
        return kSuccess;
    }
    if (command == QLatin1String("--version")) {
        out(QStringLiteral("veltra-cli %1\n").arg(QLatin1String(kVersion)));
        return kSuccess;
    }
    const QString help = commandHelp(command);
    if (help.isEmpty())
        return usage(QStringLiteral("unknown command '%1'").arg(command));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Describes the command."));
    parser.addOption(helpOption);
    // Which options each command takes.
    QStringList taken;
    if (command == QLatin1String("read"))
        taken = {"port", "page", "json", "o"};
    else if (command == QLatin1String("write"))
        taken = {"port", "page", "verify", "yes"};
    else if (command == QLatin1String("clear"))
        taken = {"port", "operation", "maximum", "yes"};
    else if (command == QLatin1String("diff"))
        taken = {"port", "json"};
    for (const QString &name : taken) {
        const bool value = name == QLatin1String("port") || name == QLatin1String("page") ||
                           name == QLatin1String("o");
        parser.addOption(value ? QCommandLineOption(name, QString(), QStringLiteral("value"))
                               : QCommandLineOption(name, QString()));
    }
    if (!parser.parse(QStringList{QStringLiteral("veltra-cli")} + arguments))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        out(help);
        return kSuccess;
    }

    const QStringList positional = parser.positionalArguments().mid(1);
    const bool takesFiles = command == QLatin1String("write") || command == QLatin1String("diff");
    if (!takesFiles && !positional.isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'").arg(positional.constFirst()));
    if (command == QLatin1String("write") && positional.size() != 1)
        return usage(QStringLiteral("write takes one settings file"));
    const bool needsPort = command != QLatin1String("ports") && command != QLatin1String("diff");
    if (needsPort && parser.value(QStringLiteral("port")).isEmpty())
        return usage(QStringLiteral("%1 needs --port P").arg(command));

    if (command == QLatin1String("ports"))
        return ports();
    if (command == QLatin1String("read"))
        return read(parser);
    if (command == QLatin1String("write"))
        return write(parser);
    if (command == QLatin1String("clear"))
        return clear(parser);
    return diff(parser);
}

} // namespace

int run(const QStringList &arguments, const Console &console)
{
    return Runner(console).run(arguments);
}

} // namespace veltra::cli
