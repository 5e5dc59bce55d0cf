#include "cli/commandtable.h"

#include "cli/outcomes.h"
#include "cli/runner.h"

#include <algorithm>

namespace veltra::cli {
namespace {

struct OptionRow
{
    const char *name;
    const char *value; // nullptr for a switch
};

constexpr OptionRow kOptions[] = {
    {"port", "P"},        {"page", "N"},       {"json", nullptr},       {"o", "FILE.DT"},
    {"yes", nullptr},     {"verify", nullptr}, {"no-verify", nullptr},  {"operation", nullptr},
    {"maximum", nullptr}, {"log", "FILE"},     {"expect-station", "N"}, {"tag", "T"},
    {"engineer", "NAME"},
};

} // namespace

const char *optionValueName(const char *option)
{
    for (const OptionRow &row : kOptions)
        if (qstrcmp(row.name, option) == 0)
            return row.value;
    return nullptr;
}

// Every command that talks to a relay takes it.
constexpr OptionHelp kLogOption{
    "log", "--log FILE",
    "also append every frame sent and received to FILE (UTF-8), each line as its\n"
    "frame goes, under a header line naming the time, the command and the port"};
constexpr OptionHelp kTagOption{"tag", "--tag T",
                                "only the relay named T (名称); give it once for each"};
constexpr OptionHelp kEngineerOption{"engineer", "--engineer NAME",
                                     "the name the site log records (else the system's user name)"};
constexpr const char *kSiteNotes =
    "The site file is CSV (UTF-8, with or without a BOM, or Shift-JIS) whose header names\n"
    "the columns 名称, 場所 (optional), ポート, 局番号 and 設定ファイル (relative to the\n"
    "site file), in any order; other columns are left alone.\n"
    "Exits 0 when every relay matches its design at the end; else, the worst first: 11\n"
    "stopped (Ctrl+C), 12 a relay could not be read or written, 10 one answered with another\n"
    "station, 7 a file could not be written (the site log, a history file), 9 written but\n"
    "not verified, 8 not confirmed, 1 differences.\n";
constexpr OptionHelp kExpectStationOption{
    "expect-station", "--expect-station N",
    "the station number (000..255) the relay must hold: the link check reads it\n"
    "and, on another, stops before any frame is sent (exit 10)"};

const QList<CommandRow> &commandTable()
{
    // Each text is laid out as --help prints it.
    // clang-format off
    static const QList<CommandRow> table{
        {"ports", "ports [--json]",
         {{"json", "--json",
           "print one JSON object with \"ports\", each port with \"name\", \"description\",\n"
           "\"manufacturer\", \"usbId\", \"serialNumber\" (\"\" where unknown) and\n"
           "\"bluetooth\""}},
         false, 0, 0, 0, &Runner::ports,
         "Lists the serial ports present now, one per line:\n"
         "name<TAB>description<TAB>manufacturer<TAB>USB VID:PID<TAB>serial number, each as the\n"
         "system knows it (VID:PID as 0403:6001), so that identical adapters can be told apart.\n"
         "What the system does not know is empty, and empty fields at the end are left off.\n",
         ""},
        {"read", "read  --port P [--page N] [--json] [-o FILE.DT] [--log FILE]",
         {{"port", "--port P", "the relay's port (required)"},
          {"page", "--page N", "read page N only (0 common, 1..8 circuits)"},
          {"json", "--json",
           "print one JSON object with \"port\", \"pages\" and \"fingerprint\"; each page has\n"
           "\"page\" and \"items\", each item \"label\" and \"present\". A read that fails prints\n"
           "\"port\", \"exit\", \"message\", \"pagesRead\" and \"pagesNotRead\" instead"},
          {"o", "-o FILE.DT",
           "also save the values as the window saves them; needs all nine pages,\n"
           "so not with --page, and all of them from this relay"},
          kLogOption},
         true, 0, 0, 0, &Runner::read,
         "Reads the relay's nine pages of settings, or page N only, and prints one line per item:\n"
         "page<TAB>label<TAB>value, in the order the window shows the rows.\n",
         "A read of all pages that stops names the pages read before it, on stderr. A read of\n"
         "all pages ends with the settings fingerprint on stderr: fingerprint: XXXXXXXX.\n"},
        {"write", "write FILE.DT --port P [--page N] [--expect-station N] [--no-verify] [--yes] "
                  "[--json] [--log FILE]",
         {{"port", "--port P", "the relay's port (required)"},
          {"page", "--page N", "write page N only (0 common, 1..8 circuits)"},
          kExpectStationOption,
          {"verify", "--verify", nullptr},
          {"no-verify", "--no-verify",
           "do not read the written pages back (--verify, the default, is accepted)"},
          {"yes", "--yes",
           "write without asking. Without it the question is asked on the terminal\n"
           "(also when the streams are redirected); with no terminal nothing is\n"
           "sent"},
          {"json", "--json",
           "print one JSON object: \"port\", \"file\", \"exit\", \"message\",\n"
           "\"pagesSent\", \"pagesNotSent\", \"verified\" and \"notTaken\" (each item\n"
           "with \"page\", \"label\", \"written\" and \"present\")"},
          kLogOption},
         true, 1, 1, 1, &Runner::write,
         "Loads a settings file as the window does and refuses it, before anything is sent, when\n"
         "a value on the pages to write cannot be written (each listed on stderr as\n"
         "page<TAB>label<TAB>value<TAB>reason). Then asks for confirmation, checks the link with\n"
         "a read, writes all nine pages or page N only, and reads the written pages back: each\n"
         "item the relay did not take is printed and the exit status is 1.\n",
         "When every frame left but reading them back failed, the pages sent are named and the\n"
         "exit status is 9: written, not verified.\n"},
        {"clear", "clear --port P (--operation | --maximum) [--expect-station N] [--yes] "
                  "[--log FILE]",
         {{"port", "--port P", "the relay's port (required)"},
          kExpectStationOption,
          {"operation", "--operation", "clear the stored operation values"},
          {"maximum", "--maximum", "clear the stored maximum values"},
          {"yes", "--yes", "clear without asking (see write)"},
          kLogOption},
         true, 0, 0, 0, &Runner::clear,
         "Clears the operation values or the maximum values the relay has stored, after a\n"
         "confirmation and a link check.\n", ""},
        {"diff", "diff  FILE.DT (--port P | OTHER.DT) [--json] [--log FILE]",
         {{"port", "--port P", "compare with the relay on this port"},
          {"json", "--json",
           "print one JSON object with \"left\", \"right\", \"differences\" and\n"
           "\"fingerprint\" (its \"left\" and \"right\"), each difference with \"page\",\n"
           "\"label\", \"left\" and \"right\""},
          kLogOption},
         false, 1, 2, 2, &Runner::diff,
         "Compares a settings file with the relay's present settings (a read of all pages) or\n"
         "with another file, and prints each item that differs:\n"
         "page<TAB>label<TAB>left<TAB>right. Exits 1 when they differ, 0 when they are equal.\n",
         "Both sides' settings fingerprints follow on stderr: fingerprint: L left, R right.\n"},
        {"check", "check FILE.DT [--json]",
         {{"json", "--json", "print one JSON object as read does, with \"file\" in place of \"port\""}},
         false, 1, 1, 1, &Runner::check,
         "Loads a settings file as the window does, without a relay, and prints its values as\n"
         "read prints a relay's: page<TAB>label<TAB>value. Every value that cannot be written is\n"
         "listed on stderr as page<TAB>label<TAB>value<TAB>reason; the exit status is then 6.\n",
         "A file that can be written ends with its settings fingerprint on stderr, as read.\n"},
        {"set", "set   FILE.DT PAGE:LABEL=VALUE... -o OUT.DT",
         {{"o", "-o OUT.DT", "where the result goes (required)"}},
         false, 2, -1, 1, &Runner::set,
         "Changes named values of a settings file and saves the result as OUT.DT, which may be\n"
         "FILE.DT itself (it is replaced only once the new file is complete). PAGE is 0 (common)\n"
         "to 8; LABEL an item's label as read prints it, its short name in the file's heading\n"
         "(絶縁感度) or its row on the page counted from 1 as the window shows it; VALUE one the\n"
         "relay knows. For example 3:絶縁監視動作感度設定=50(mA), 3:絶縁感度=50(mA) and\n"
         "3:2=50(mA) are one change. A label or value the relay does not know (the note lists\n"
         "what the item takes), or a value of the file that cannot be written, exits 6 and\n"
         "writes nothing.\n",
         ""},
        {"find", "find  [--port P]... [--log FILE]",
         {{"port", "--port P", "a port to try; give it once for each"},
          kLogOption},
         false, 0, 0, 0, &Runner::find,
         "Sends a read of the common settings to every port given, or to every port present when\n"
         "none is (but those on a Bluetooth link, whose drivers may take seconds to open one),\n"
         "all at the same time, and prints one line per relay that answered:\n"
         "port<TAB>station. Ports that could not be opened or did not answer are named on stderr.\n"
         "Exits 0 when a relay answered, 3 when none did. Nothing but read requests is sent.\n",
         ""},
        {"site check", "site check SITE.csv [--tag T]... [--json] [--engineer NAME] [--log FILE]",
         {kTagOption,
          {"json", "--json",
           "print one JSON array, an object per relay with \"tag\", \"port\",\n"
           "\"station_expected\", \"station_read\", \"fingerprint_design\",\n"
           "\"fingerprint_relay\", \"differences\" (each with \"page\", \"label\",\n"
           "\"design\", \"relay\") and \"status\""},
          kEngineerOption,
          kLogOption},
         false, 1, 1, 1, &Runner::siteCheck,
         "Reads every relay of a site file (or those named by --tag) and compares it with its\n"
         "design file by the codes that travel, as diff --port does, and its station with the\n"
         "row's. Relays on different ports are read at the same time; rows that share a port\n"
         "one after another, in file order. One line per relay: tag<TAB>status<TAB>detail, the\n"
         "status one of match, differs, wrong-station, no-reply, data-error, port-unusable,\n"
         "not-reached (stopped). Each relay's check is appended to the site log beside the\n"
         "site file (plant.csv: plant.log.csv), which is never rewritten. A problem in the\n"
         "site file or a design file is listed as line<TAB>column<TAB>problem on stderr, and\n"
         "nothing is sent (exit 6). Nothing but read requests is sent.\n",
         kSiteNotes},
        {"site write", "site write SITE.csv [--tag T]... [--yes] [--json] [--engineer NAME] "
                       "[--log FILE]",
         {kTagOption,
          {"yes", "--yes", "write without asking (see write)"},
          {"json", "--json",
           "print one JSON array: site check's object per relay, with \"write\" (its\n"
           "result), \"history\" (the file of its values before, or null) and\n"
           "\"fingerprint_after\" (read back, or null)"},
          kEngineerOption,
          kLogOption},
         false, 1, 1, 1, &Runner::siteWrite,
         "Checks the relays as site check does, then writes each one that differs, and only\n"
         "those, one after another: its values as the check read them saved in the history\n"
         "folder beside the site file (plant.csv: plant.history/TAG_YYYYMMDD_HHMMSS.DT), then\n"
         "its design file written under the station guard with the row's station, and read\n"
         "back. A relay that matches, answers with another station or cannot be read gets\n"
         "nothing but the check's reads. The question lists every relay to be written: tag,\n"
         "port, station, number of changes. One line per relay: tag<TAB>result<TAB>detail, the\n"
         "result one of verified, not-taken, not-verified, write-failed, refused,\n"
         "history-unsaved, left-alone, not-reached; the counts written, verified, left alone\n"
         "and not reached follow on stderr. Ctrl+C finishes the relay being written and writes\n"
         "no other. The site log gets a check line per relay and a write and a verify line per\n"
         "relay written.\n",
         kSiteNotes},
        {"site report", "site report SITE.csv -o RECORD.pdf [--tag T]... [--engineer NAME] "
                        "[--log FILE]",
         {{"o", "-o RECORD.pdf", "where the record goes (required)"},
          kTagOption,
          kEngineerOption,
          kLogOption},
         false, 1, 1, 1, &Runner::siteReport,
         "Checks the relays as site check does, a check line per relay in the site log, prints\n"
         "site check's line per relay, and saves the site's commissioning record as RECORD.pdf\n"
         "(A4, Japanese): a first page with one row per relay (tag, place, port, station\n"
         "expected and read, status) and boxes for the engineer's and the customer's\n"
         "signatures; then each relay with its design file, both fingerprints, every item that\n"
         "differs, and its last write and verify as the site log had them. Nothing but read\n"
         "requests is sent. RECORD.pdf is replaced only by a finished record, never when it is\n"
         "read-only or one of the site's files; when it cannot be written the exit status is 7,\n"
         "whatever the check found.\n",
         kSiteNotes, true},
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

const CommandRow *namedCommand(const QStringList &arguments)
{
    if (arguments.size() > 1)
        if (const CommandRow *row = findCommand(arguments[0] + u' ' + arguments[1]))
            return row;
    return arguments.isEmpty() ? nullptr : findCommand(arguments.constFirst());
}

QString commandHelp(const CommandRow &row)
{
    QString text = QStringLiteral("usage: veltra-cli %1\n\n%2")
                       .arg(QLatin1String(row.synopsis), QString::fromUtf8(row.about));
    qsizetype width = 13; // the flags' column, wide enough for the longest flag
    for (const OptionHelp &option : row.options)
        width = std::max(width, qsizetype(qstrlen(option.flag)) + 3);
    bool first = true;
    for (const OptionHelp &option : row.options) {
        if (!option.description)
            continue;
        if (first)
            text += u'\n';
        first = false;
        const QStringList lines = QString::fromUtf8(option.description).split(u'\n');
        text += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(option.flag).leftJustified(width), lines.constFirst());
        for (const QString &line : lines.mid(1))
            text += QString(width + 2, u' ') + line + u'\n';
    }
    if (*row.notes)
        text += u'\n' + QString::fromUtf8(row.notes);
    return text;
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
        "P is a port number, 1..10 (COM1..COM10 on Windows, /dev/ttyS0../dev/ttyS9 on Linux), a\n"
        "device name such as /dev/ttyUSB0 or COM12, or a serial device server's port as\n"
        "socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217). N is a page: 0\n"
        "the common settings, 1..8 the circuits.\n"
        "\n"
        "Exit status:\n");
    for (const ExitMeaning &exit : exitMeanings())
        text += QStringLiteral("  %1  %2\n").arg(exit.code).arg(QLatin1String(exit.meaning));
    text += QStringLiteral("\n'veltra-cli COMMAND --help' describes one command.\n");
    return text;
}

} // namespace veltra::cli
