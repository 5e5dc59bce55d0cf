#pragma once

#include "operations/messages.h"
#include "operations/outcome.h"
#include "site/sitewrite.h"

#include <QList>
#include <QString>

// What the command line makes of how a command ended: one table from each outcome to its exit
// status and its English note. The Japanese is the window's own (operations/messages).
namespace veltra::cli {

using messages::exitMeanings;

// What a note names besides the outcome itself.
struct NoteContext
{
    QString port;            // the device, as opened
    QString file;            // the settings file of the command, if any
    bool noTerminal = false; // a confirmation was refused for want of a terminal
};

struct Verdict
{
    int exit = 0;
    QString japanese; // the window's message, or its first words
    QString english;  // why, and what was and was not done
};

Verdict verdict(const Outcome &outcome, const NoteContext &context);

// A site command's exit status: the worst situation among its relays decides, in the order
// stopped, a design not valid, a relay not read or not written, another station, a history
// file not saved, a write not verified, not confirmed, differences.
class SiteVerdict
{
public:
    void add(const RelayCheck &check);
    void add(const RelayWrite &write);
    void addDeclined();
    int exitCode() const;

private:
    void raise(int code);
    int m_rank = 0; // an index into the order above, from its end
};

// One port of a relay search that found no relay there: "PORT<TAB>Japanese (English)".
QString probeLine(const Probe &probe);

// "0, 1, 2"
QString pageList(const QList<int> &pages);

// Why a file was not read or written, in a few words naming it.
QString fileProblemNote(FileProblem problem, const QString &file, bool reading = false);
// The note of a settings file saved as UTF-8 text.
QString savedAsUtf8Note();

} // namespace veltra::cli
