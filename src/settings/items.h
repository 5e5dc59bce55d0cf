#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace veltra {

// Page 0 holds the common settings, pages 1..8 the eight monitored circuits.
inline constexpr int kPageCount = 9;
inline constexpr int kCommonPage = 0;
inline constexpr int kClearPage = 9; // selects the clear frame, never a settings page
inline constexpr int kCommonItemCount = 7;
inline constexpr int kCircuitItemCount = 5;
inline constexpr int kStationItem = 6; // common item whose code is the number itself
inline constexpr int kStationMax = 255;

enum class PageKind { Common, Circuit };

bool isSettingsPage(int page);
PageKind pageKind(int page);
int itemCount(PageKind kind);
int itemCount(int page); // 0 for a page outside 0..8

// "* * * *": nothing read or chosen yet. Never a list entry.
QString notLoadedText();
// What decoding shows for a code that has no text.
QString errorText();
// Full-width digit as used inside messages ("１".."８").
QString fullWidthDigit(int digit);

QString rowLabel(PageKind kind, int item);
QString fileColumn(PageKind kind, int item);
// Screen order differs from item order on the common page: item 2 stands above item 1.
int itemAtScreenRow(PageKind kind, int row);

// The permitted values of an item in list order; the code of a value is its position.
QStringList valueList(PageKind kind, int item);
// Exact, case-sensitive lookup. The station number's code is its decimal value.
std::optional<int> codeOfText(PageKind kind, int item, const QString &text);
// A station number as it can be written: a whole decimal number 0..255, else nothing.
std::optional<int> stationNumberValue(const QString &text);
// The list entry at `code`, or "ERROR"; a station number as three digits.
QString textOfCode(PageKind kind, int item, int code);

} // namespace veltra
