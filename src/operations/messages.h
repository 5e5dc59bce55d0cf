#pragma once

#include "operations/outcome.h"
#include "settings/writable.h"

#include <QString>

// The operations' reports, each written once. The window shows the report of an outcome; the
// command line prints it beside its exit code.
namespace veltra::messages {

// The message box text for an outcome; empty where the command ends without a word.
QString report(const Outcome &outcome);
// Why a set value cannot be written, in a few words.
QString writeProblem(WriteProblem problem);
// "共通設定" or "回路３".
QString pageName(int page);

QString invalidSetValues();
QString invalidPresentValues();
QString allRead();
QString pageRead(int page);
QString written();
QString verified();
QString notTaken(); // follows the list of items the relay did not take
QString clearSent(bool operationValues);
QString nothingToClear();
QString saveRefused();
QString saveFailed();
// The refusal of a file made from the values to write: each value that cannot be written,
// at most ten, then how many more.
QString editedSaveRefused(const QList<ValueProblem> &problems);
QString notSettingsFile();
QString unreadable();
QString loaded();

} // namespace veltra::messages
