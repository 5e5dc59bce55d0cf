#pragma once

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

// Writes a settings file; the old file stays intact unless every byte of the new one was
// written. False on any failure.
bool writeSettingsFile(const QString &path, const SettingsFields &fields,
                       FileColumn column = FileColumn::Present);

enum class LoadStatus { Ok, Unreadable, NotSettingsFile, TooShort };

struct LoadedFile
{
    LoadStatus status = LoadStatus::Unreadable;
    QStringList lines; // on Ok: nine entries, line 3 then lines 5..12
};

// Reads only the first twelve lines, however large the file, and keeps at most 64 KiB of any
// line. Lines end at CR LF or a lone CR.
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
