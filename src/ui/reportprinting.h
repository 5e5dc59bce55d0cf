#pragma once

#include <QString>

class QWidget;

namespace veltra {

class SettingsReport;

// The settings report in a print preview, modal over `parent`; printing goes from there.
void previewReport(const SettingsReport &report, QWidget *parent);

// The settings report as a PDF file at `path`. False when it could not be rendered or written;
// then the file, if there was one, is as it was.
bool saveReportPdf(const SettingsReport &report, const QString &path);

} // namespace veltra
