#pragma once

#include "cli/cli.h"
#include "file/appendfile.h"
#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/framelog.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/fingerprint.h"
#include "settings/memoryfields.h"
#include "site/sitecheck.h"

#include <QCommandLineParser>

#include <functional>
#include <memory>
#include <optional>

namespace veltra::cli {

struct CommandRow;

// Every question and report of the operations, answered without a window. The command line
// reads how a command ended from Commands::outcome(), never from these texts.
class CliPrompts final : public UserPrompts
{
public:
    int ShowMessage(const QString &, int style, const QString & = {}) override
    {
        if (style == kStyleConfirm)
            return confirm ? confirm() : kAnswerNo;
        return kAnswerOk;
    }
    void showNotice(const QString &) override {}
    std::optional<QString> saveFileName() override { return savePath; }
    std::optional<QString> openFileName() override { return std::nullopt; }
    std::optional<QString> saveEditedFileName(const QString &) override { return savePath; }
    std::optional<QString> openSiteFileName() override { return std::nullopt; }
    std::optional<QString> savePdfFileName(const QString &) override { return std::nullopt; }
    std::optional<QString> saveLogFileName(const QString &) override { return std::nullopt; }
    void showAbout(const QString &) override {}

    std::function<int()> confirm;
    std::optional<QString> savePath;
};

// One relay on one port: the window's operations on fields held in memory.
struct Session
{
    Session(const QString &port, SerialPort *line)
        : serial(line), link(*serial), commands(link, fields, prompts)
    {
        fields.setPortText(port);
    }
    MemoryFields fields;
    CliPrompts prompts;
    std::unique_ptr<SerialPort> serial;
    DeviceLink link;
    Commands commands;
};

// The handlers of the command table, and what they share.
// A value that cannot be written, as the command line lists it: page<TAB>label<TAB>value<TAB>
// reason.
QString problemLine(const ValueProblem &problem);

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
    int siteCheck(const QCommandLineParser &parser);
    int siteWrite(const QCommandLineParser &parser);
    int siteReport(const QCommandLineParser &parser);

private:
    // The command itself, once its arguments are known to be right, and its files are ones it
    // may touch; its frame log written as frames go.
    int runCommand(const CommandRow &command, const QCommandLineParser &parser);
    // Refuses, before anything is read or sent, a file to write that the tool must not replace
    // or that is one of the command's own inputs; then opens the frame log. An exit code when
    // refused.
    std::optional<int> openOutputs(const CommandRow &command, const QCommandLineParser &parser);
    void out(const QString &text) const { m_console.out(text.toUtf8()); }
    void err(const QString &text) const { m_console.err(text.toUtf8()); }
    int usage(const QString &problem) const;
    int fail(int code, const QString &japanese, const QString &english) const;
    std::unique_ptr<Session> session(const QString &port) const;
    std::optional<int> page(const QCommandLineParser &parser, int *code) const;
    // --expect-station N, or nothing; a usage error in `code` when N is no station number.
    std::optional<int> expectedStation(const QCommandLineParser &parser, int *code) const;
    // A line of the settings file loaded whose label is not that of its place, on stderr.
    void printMisplacedLabels(const Session &session, const QList<int> &pages,
                              const QString &consequence) const;
    // The exit code of a command's outcome, with its report and an explanation on stderr
    // when it is no success.
    int finish(const Session &session, const QString &fileName = {}) const;
    bool loadFile(Session &session, const QString &path, int *code);
    void showProgress(Session &session, messages::Progress kind, int total);
    void endProgress();
    std::function<int()> confirmation(const QCommandLineParser &parser, const QString &question);
    QString device(const Session &session) const;
    // The values of every page, or of `onePage`, as read prints them.
    void printValues(const QString &sourceKey, const QString &source, std::optional<int> onePage,
                     const std::function<QString(int, int)> &value, bool json) const;
    // The settings fingerprint of those values, on stderr; --json has it among the values.
    void printFingerprint(const ValueAt &value, bool json) const;
    // Lists each value that cannot be written on stderr; exit 6 when there is one.
    int refuseProblems(const QList<ValueProblem> &problems, const QString &file,
                       const QString &consequence) const;
    // The site commands' shared steps (site.cpp): the site file read and its log opened (an
    // exit code when refused), its relays checked, the exit code once the log is known.
    struct SiteRun;
    std::optional<int> openSite(const QCommandLineParser &parser, SiteRun &run);
    QList<RelayCheck> checkSite(SiteRun &run);
    // One line per relay, or with `json` one array of objects.
    void printChecks(const QList<RelayCheck> &checks, bool json) const;
    int siteLogFailure(const SiteRun &run, int code) const;
    // With --json, what a read or write came to, as one object on standard output.
    void printOutcomeJson(const Session &session, const QString &file, int code) const;

    const Console &m_console;
    QStringList m_arguments;
    std::unique_ptr<FrameLog> m_frameLog; // with --log: what every session's link carried
    AppendFile m_logFile;                 // where each of its lines goes as it comes
    bool m_logIncomplete = false;         // a line did not reach it
    bool m_json = false; // standard output carries one JSON object and nothing else
    bool m_progressShown = false;
    bool m_noTerminal = false;
};

} // namespace veltra::cli
