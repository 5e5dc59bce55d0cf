#pragma once

#include "operations/commands.h"
#include "operations/outcome.h"

#include <QDateTime>
#include <QPageLayout>
#include <QString>

#include <array>

class QPagedPaintDevice;

namespace veltra {

class SettingsFields;

// A printable record of the window: what was read, what is to be written, and what would
// change, page by page on A4.
struct ReportInfo
{
    QDateTime created;
    QString port;    // as the port field shows it, with the device it opens
    QString station; // the relay's station number as read; empty when not read
    // By page: where and when its present values were read.
    QList<std::optional<PageReading>> readings;
    // The last write or clear of this run that went to the line, and when it ended.
    std::optional<Outcome> lastWrite;
    QDateTime lastWriteTime;
    QString settingsFile;            // loaded or saved last; empty when none
    bool settingsFileEdited = false; // set values changed since it was loaded or saved
    // By page: why its present values may not be the relay's now; empty where they are.
    std::array<QString, 9> olderNotes;
};

class SettingsReport
{
public:
    SettingsReport(const SettingsFields &fields, const ReportInfo &info);

    // Paints every page in the device's own page layout, so that a print preview's
    // orientation and page set-up take effect; the page count follows. False when nothing
    // could be painted (the device did not open).
    bool render(QPagedPaintDevice *device) const;

    // A4 portrait with 15 mm margins: what a device is given once, before the first render.
    static QPageLayout pageLayout();

    // "VELTRA設定_YYYYMMDD_HHMM.pdf" for the report's time.
    static QString defaultPdfName(const QDateTime &created);

private:
    const SettingsFields &m_fields;
    ReportInfo m_info;
};

} // namespace veltra
