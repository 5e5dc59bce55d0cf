#pragma once

#include "file/filenames.h"
#include "operations/relayfinder.h"
#include "settings/writable.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace veltra {

// The commands an outcome can belong to.
enum class CommandId {
    None,
    ReadPage,
    ReadAll,
    CopyPage,
    CopyAll,
    WritePage,
    WriteAll,
    Clear,
    Save,
    SaveEdited,
    Load,
    FindRelays,
};

// An item a verified write did not change as written.
struct NotTakenItem
{
    int page = 0;
    int item = 0;
    QString written; // the set value as it was sent
    QString present; // what the relay shows now

    friend bool operator==(const NotTakenItem &, const NotTakenItem &) = default;
};

// How a command ended. The window turns it into its message, the command line into an exit
// code; nothing reads a message's text back.
struct Outcome
{
    Q_GADGET
public:
    enum class Kind {
        Success,
        NoReply,              // link error 1: no complete reply within the time-out
        DataError,            // link error 2: the reply failed its checksum
        PortUnusable,         // link error 3, also when the port will not open for a frame
        WrongStation,         // the link check found another station than expected: nothing sent
        InvalidSetValues,     // refused before anything was asked or sent
        InvalidPresentValues, // present values not read or not valid (copy, save, link check)
        NotSettingsFile,
        FileTooShort,   // fewer than twelve lines: the load ends without a word
        FileUnreadable, // the file could not be read
        FileUnwritable, // the file could not be written; nothing was damaged
        WriteFailed,    // a frame did not leave the port: the write stopped at `page`
        NotVerified,    // every frame left, but reading them back failed (`linkFailure`)
        NotTaken,       // a verified write found items the relay did not take
        NothingToClear, // no kind of stored value chosen
        Declined,       // a confirmation answered No, or a dialog cancelled
        Stopped, // ended between two steps: a read-all or a relay search by Esc, any command by a
                 // signal (the command line's Ctrl+C); `pagesSent` says how far a write got
    };
    Q_ENUM(Kind)

    Outcome() = default;
    explicit Outcome(CommandId command, Kind kind = Kind::Success) : command(command), kind(kind) {}

    CommandId command = CommandId::None;
    Kind kind = Kind::Success;
    int page = -1;                    // the page read or written, or where a write stopped
    QList<int> pagesSent;             // write frames that left the port, in order
    QList<int> pagesRead;             // pages read and decoded, in order
    Kind linkFailure = Kind::Success; // with Kind::NotVerified: how the read-back failed
    bool verified = false;            // a write was read back and compared
    bool operationValues = false;     // a clear: the operation values (else the maximum values)
    QList<NotTakenItem> notTaken;     // with Kind::NotTaken
    QList<ValueProblem> problems;     // with Kind::InvalidSetValues, where they were listed
    QString fileName;                 // a file command's file, as the system writes paths
    QList<Probe> probes;              // a relay search: every port, in the order probed
    QString refusal; // with PortUnusable: why the far end would not serve the line, its words
    QString device;  // the port the link check read, as opened
    // The station the link check read (also when it was the one expected) and the one expected.
    std::optional<int> stationRead;
    std::optional<int> stationExpected;
    FileProblem fileProblem = FileProblem::None; // with the file kinds: why, where known
    bool utf8Text = false; // with NotSettingsFile or FileTooShort: the file is UTF-8 text

    bool succeeded() const { return kind == Kind::Success; }
};

// What a command is doing, for progress shown while it runs ("読込中 3/9").
enum class Progress { Reading, Writing, Verifying };

// What a write's confirmation tells beside its question: what would change, and where.
struct WriteDetails
{
    struct Change
    {
        int page = 0;
        int item = 0;
        QString from; // the present value
        QString to;   // the set value
    };
    QString device; // the port as it will be opened
    // The station the link check will hold the relay to: the one read on this port. Nothing
    // when there is none to compare with.
    std::optional<int> expectedStation;
    QList<Change> changes; // only of pages whose present values are this port's, and current
    int comparedPages = 0; // how many pages those are
    QList<int> notRead;    // pages to write without present values to compare with
    QList<int> older;      // pages whose present values may not be this relay's now
    QString otherPort;     // where older pages were read, when that was another port
};

} // namespace veltra
