#pragma once

#include "file/filenames.h"
#include "site/sitecheck.h"
#include "site/sitelog.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace veltra {

// A site's commissioning record: how each relay stood when it was read, what the site log says
// was last written to it, and room for the engineer's and the customer's signatures.
struct SiteRecord
{
    QString sitePath;
    QString engineer;
    QDateTime created;
    QList<RelayCheck> checks; // in file order: the relays read now
    QList<SiteLogEntry> log;  // the site log, as it was before this record's own lines
};

// The commissioning record as a PDF at `path`: FileProblem::None when every byte was written;
// otherwise the old file, if any, stays as it was.
[[nodiscard]] FileProblem saveSiteRecordPdf(const SiteRecord &record, const QString &path);

} // namespace veltra
