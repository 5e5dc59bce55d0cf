#pragma once

#include "operations/messages.h"
#include "operations/outcome.h"

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

// One port of a relay search that found no relay there: "PORT<TAB>Japanese (English)".
QString probeLine(const Probe &probe);

// "0, 1, 2"
QString pageList(const QList<int> &pages);

// Why a file was not read or written, in a few words naming it.
QString fileProblemNote(FileProblem problem, const QString &file, bool reading = false);
// The note of a settings file saved as UTF-8 text.
QString savedAsUtf8Note();

} // namespace veltra::cli
