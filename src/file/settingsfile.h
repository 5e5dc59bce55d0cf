#pragma once

#include "file/filenames.h"

#include <QString>
#include <QStringList>

namespace veltra {

class SettingsFields;

QString settingsFileMarker(); // "VELTRA設定ファイル"

// Which column a file is made from: what was read from a relay, or the values to write.
enum class FileColumn { Present, Set };

// The twelve lines of a settings file, without line ends.
QStringList settingsFileLines(const SettingsFields &fields,
                              FileColumn column = FileColumn::Present);

// Writes a settings file by the rule every saved file follows; the old file stays intact unless
// every byte of the new one was written. FileProblem::None when it was.
[[nodiscard]] FileProblem writeSettingsFile(const QString &path, const SettingsFields &fields,
                                            FileColumn column = FileColumn::Present);

enum class LoadStatus { Ok, Unreadable, NotSettingsFile, TooShort };

struct LoadedFile
{
    LoadStatus status = LoadStatus::Unreadable;
    QStringList lines; // on Ok: nine entries, line 3 then lines 5..12
    // With Unreadable: why (a FIFO, a device or a folder is refused before any byte is read).
    FileProblem problem = FileProblem::None;
    // With NotSettingsFile or TooShort: the file is text in UTF-8 beyond ASCII, an editor's way
    // of saving a settings file that the tool then cannot read.
    bool utf8Text = false;
};

// Reads only the first twelve lines, however large the file, and keeps at most 64 KiB of any
// line. Lines end at CR LF or a lone CR. The file is opened once, and only a regular file is.
LoadedFile readSettingsFile(const QString &path);

// The label a data line stands under: "共通設定" for entry 0, "回路１".."回路８" for 1..8.
QString settingsFileLabel(int page);
// The entries (0..8) of `lines` whose label is not the one of their position. Loading goes by
// position, so a line of circuit 2 on the line of circuit 1 fills circuit 1.
QList<int> misplacedLabels(const QStringList &lines);

// Fill the set values of page 0 / circuit page 1..8 from one data line.
void ParseCommonLine(const QString &line, SettingsFields &fields);
void ParseCircuitLine(int page, const QString &line, SettingsFields &fields);

} // namespace veltra
