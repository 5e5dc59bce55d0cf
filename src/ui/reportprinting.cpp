#include "ui/reportprinting.h"

#include "file/wholefile.h"
#include "ui/settingsreport.h"
#include "version.h"

#include <QBuffer>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace veltra {

void previewReport(const SettingsReport &report, QWidget *parent)
{
    QPrinter printer(QPrinter::HighResolution);
    // Once, before the preview: its orientation and page set-up then change it for good.
    printer.setPageLayout(SettingsReport::pageLayout());
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(QStringLiteral("PrintPreview"));
    preview.setWindowTitle(QStringLiteral("印刷プレビュー"));
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&report](QPrinter *target) { report.render(target); });
    preview.exec();
}

bool saveReportPdf(const SettingsReport &report, const QString &path)
{
    // Rendered in memory, then written whole or not at all: an existing file is replaced only
    // by a finished report.
    QByteArray pdf;
    bool saved = false;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageLayout(SettingsReport::pageLayout());
        writer.setTitle(QStringLiteral("VELTRA 設定値レポート"));
        writer.setCreator(QStringLiteral("VELTRA 設定ソフト " VELTRA_VERSION));
        saved = report.render(&writer);
    }
    return saved && saveWholeFile(path, pdf) == FileProblem::None;
}

} // namespace veltra
