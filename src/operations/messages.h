#pragma once

#include "operations/commands.h"
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
// "回路３ 絶縁監視動作感度設定: 設定 50(mA) / 現在 45(mA)"
QString notTakenLine(const NotTakenItem &item);
// Why a port's reply is no reply a read would take, in a few words.
QString replyProblem(ReplyVerdict verdict);
// Why a page's present values may not be what the relay on the port now named holds: its
// time and port of reading, then the reason. For the fields' tooltip and the report.
QString olderPresentValues(const PageReading &reading, const QString &portNow);
// "共通設定" or "回路３".
QString pageName(int page);

QString invalidSetValues();
// The same, with the values listed below it where a value beyond "* * * *" and "ERROR" is one.
QString invalidSetValues(const QList<ValueProblem> &problems);
// A write whose frames all left but whose read-back failed; the link error follows it.
QString notVerified();
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
