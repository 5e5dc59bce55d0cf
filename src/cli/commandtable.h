#pragma once

#include <QList>
#include <QString>

class QCommandLineParser;

namespace veltra::cli {

class Runner;
using Handler = int (Runner::*)(const QCommandLineParser &);

// One option of one command, as its --help lists it.
struct OptionHelp
{
    const char *name;        // as the parser knows it: "port", "o"
    const char *flag;        // as the help shows it: "--port P", "-o OUT.DT"
    const char *description; // lines joined by \n; nullptr: accepted but not listed
};

// One row per command: everything the command line knows of it, its help included.
struct CommandRow
{
    const char *name;
    const char *synopsis; // after "veltra-cli "; the overview lists these
    QList<OptionHelp> options;
    bool needsPort;
    int minArguments;  // after the command's name: settings files, changes
    int maxArguments;  // -1: no limit
    int settingsFiles; // how many of the first arguments name files it reads (settings, site)
    Handler handler;
    const char *about;   // what the command does, above its options
    const char *notes;   // below its options; may be empty
    bool paints = false; // renders pages: needs Gui's fonts, which QCoreApplication has not
};

const QList<CommandRow> &commandTable();
const CommandRow *findCommand(const QString &name);
// The command a command line names, by its first word or its first two (site check).
const CommandRow *namedCommand(const QStringList &arguments);
// The value an option takes ("P", "N", "FILE.DT"), or nullptr for a switch.
const char *optionValueName(const char *option);

// `veltra-cli --help` and `veltra-cli NAME --help`.
QString overview();
QString commandHelp(const CommandRow &row);

} // namespace veltra::cli
