#include "ui/sitewindow.h"

#include "operations/commands.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "site/siterecord.h"
#include "ui/mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace veltra {
namespace {

using Status = RelayCheck::Status;

// A tint behind the state's words: the words alone tell it in black and white.
QColor stateColour(Status status)
{
    switch (status) {
    case Status::Match:
        return QColor(0xc8, 0xee, 0xc8);
    case Status::Differs:
        return QColor(0xff, 0xe0, 0x8a);
    case Status::WrongStation:
        return QColor(0xf4, 0xa6, 0xa6);
    case Status::NoReply:
    case Status::DataError:
    case Status::PortUnusable:
        return QColor(0xf6, 0xc3, 0xa0);
    case Status::NotReached:
        return QColor(0xe4, 0xe4, 0xe4);
    case Status::DesignInvalid:
        return QColor(0xdc, 0xc8, 0xf0);
    }
    Q_UNREACHABLE();
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

SiteWindow::SiteWindow(MainWindow &main, UserPrompts &prompts, SiteChecker::LineFactory makeLine,
                       QWidget *parent)
    : QWidget(parent, Qt::Window), m_main(main), m_prompts(prompts), m_makeLine(std::move(makeLine))
{
    setObjectName(QStringLiteral("SiteWindow"));
    setWindowTitle(QStringLiteral("サイト"));
    setFont(main.font());

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("SiteTable"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("名称"), QStringLiteral("場所"), QStringLiteral("ポート"),
         QStringLiteral("局番号\n(設定)"), QStringLiteral("局番号\n(読込)"),
         QStringLiteral("設定ファイルの\nフィンガープリント"),
         QStringLiteral("リレーの\nフィンガープリント"), QStringLiteral("状態"),
         QStringLiteral("相違"), QStringLiteral("最終書込")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    connect(m_table, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { useInMainWindow(row); });

    const auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    m_checkAll = button("CheckAllButton", QStringLiteral("全リレー確認"));
    m_checkOne = button("CheckOneButton", QStringLiteral("選択したリレーを確認 (F5)"));
    m_write = button("WriteButton", QStringLiteral("選択したリレーに書込"));
    m_record = button("RecordButton", QStringLiteral("記録を出力..."));
    auto *stopButton = button("StopButton", QStringLiteral("中止 (Esc)"));
    connect(m_checkAll, &QPushButton::clicked, this, &SiteWindow::checkAll);
    connect(m_checkOne, &QPushButton::clicked, this, &SiteWindow::checkCurrent);
    connect(m_write, &QPushButton::clicked, this, &SiteWindow::writeSelected);
    connect(m_record, &QPushButton::clicked, this, &SiteWindow::saveRecord);
    connect(stopButton, &QPushButton::clicked, this, &SiteWindow::stop);
    connect(this, &SiteWindow::busyChanged, stopButton, &QPushButton::setEnabled);
    stopButton->setEnabled(false);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("SiteSummary"));
    m_problems = new QPlainTextEdit(this);
    m_problems->setObjectName(QStringLiteral("SiteProblems"));
    m_problems->setReadOnly(true);
    m_problems->setMaximumHeight(90);
    m_problems->hide();

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_checkAll, m_checkOne, m_write, m_record, stopButton})
        buttons->addWidget(b);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_table);
    layout->addWidget(m_problems);
    layout->addWidget(m_summary);
    resize(1000, 420);
    setBusy(false);
}

int SiteWindow::rowOf(const QString &tag) const
{
    for (qsizetype row = 0; row < m_results.size(); ++row)
        if (m_results[row].relay.tag == tag)
            return int(row);
    return -1;
}

bool SiteWindow::openSite(const QString &path)
{
    if (m_busy)
        return false;
    m_site = readSiteFile(path);
    m_logFile.reset();
    m_log = readSiteLog(siteLogPath(path));
    m_results.clear();
    for (const SiteRelay &relay : m_site.relays) {
        RelayCheck check;
        check.relay = relay;
        check.status = relay.designValid ? Status::NotReached : Status::DesignInvalid;
        check.designFingerprint = designFingerprint(relay);
        m_results << check;
    }
    setWindowTitle(QStringLiteral("サイト - %1").arg(QFileInfo(path).fileName()));
    m_table->setRowCount(int(m_results.size()));
    for (int row = 0; row < m_table->rowCount(); ++row)
        showRow(row);
    m_table->resizeColumnsToContents();

    QStringList problems;
    for (const SiteProblem &problem : m_site.problems)
        problems << QStringLiteral("%1 行目  %2  %3")
                        .arg(problem.line)
                        .arg(problem.column, siteProblemText(problem));
    m_problems->setPlainText(problems.join(u'\n'));
    m_problems->setVisible(!problems.isEmpty());
    m_summary->setText(problems.isEmpty()
                           ? QStringLiteral("%1 台").arg(m_results.size())
                           : QStringLiteral("サイトファイルに誤りがあります。直してから開き直して"
                                            "ください。リレーには何も送信しません。"));
    setBusy(false);
    return problems.isEmpty();
}

void SiteWindow::showRow(int row)
{
    const RelayCheck &c = m_results[row];
    const auto orDash = [](const std::optional<QString> &text) {
        return text ? *text : QStringLiteral("-");
    };
    m_table->setItem(row, TagColumn, cell(c.relay.tag));
    m_table->setItem(row, PlaceColumn, cell(c.relay.place));
    m_table->setItem(row, PortColumn, cell(c.relay.port));
    m_table->setItem(row, StationExpectedColumn, cell(messages::stationText(c.relay.station)));
    m_table->setItem(
        row, StationReadColumn,
        cell(c.stationRead ? messages::stationText(*c.stationRead) : QStringLiteral("-")));
    m_table->setItem(row, DesignFingerprintColumn, cell(orDash(c.designFingerprint)));
    m_table->setItem(row, RelayFingerprintColumn, cell(orDash(c.relayFingerprint)));
    m_table->setItem(row, DifferencesColumn,
                     cell(c.status == Status::Differs ? QString::number(c.differences.size())
                          : c.status == Status::Match ? QStringLiteral("0")
                                                      : QStringLiteral("-")));
    showState(row, messages::siteStatusText(c.status), c.status);
    showLastWrite(row);
}

void SiteWindow::showState(int row, const QString &text, Status colourOf)
{
    QTableWidgetItem *item = cell(text);
    item->setBackground(stateColour(colourOf));
    item->setForeground(Qt::black);
    m_table->setItem(row, StateColumn, item);
    emit stateShown(row, text);
}

void SiteWindow::showLastWrite(int row)
{
    const SiteLogEntry *write =
        lastEntry(m_log, m_results[row].relay.tag, QString::fromUtf16(siteoperation::kWrite));
    const SiteLogEntry *verify =
        lastEntry(m_log, m_results[row].relay.tag, QString::fromUtf16(siteoperation::kVerify));
    QString text = QStringLiteral("-");
    if (write) {
        text =
            QStringLiteral("%1  %2").arg(write->time.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                         messages::siteLogResult(*write));
        if (verify && verify->time >= write->time)
            text += QStringLiteral(" / ") + messages::siteLogResult(*verify);
    }
    m_table->setItem(row, LastWriteColumn, cell(text));
}

void SiteWindow::setBusy(bool busy)
{
    m_busy = busy;
    const bool sendable = !busy && m_site.problems.isEmpty() && !m_results.isEmpty();
    for (QPushButton *b : {m_checkAll, m_checkOne, m_write, m_record})
        b->setEnabled(sendable);
    emit busyChanged(busy);
}

bool SiteWindow::openLog()
{
    if (m_logFile)
        return true;
    auto log = std::make_unique<SiteLog>();
    if (log->open(siteLogPath(m_site.path)) != FileProblem::None) {
        m_prompts.ShowMessage(messages::logSaveFailed() + u'\n' +
                                  QDir::toNativeSeparators(siteLogPath(m_site.path)),
                              kStyleNotice);
        return false;
    }
    m_logFile = std::move(log);
    return true;
}

void SiteWindow::appendLog(const SiteLogEntry &entry)
{
    m_log << entry;
    if (!m_logFile || !m_logFile->append(entry))
        m_logIncomplete = true;
}

void SiteWindow::reportLog()
{
    if (!std::exchange(m_logIncomplete, false))
        return;
    m_prompts.ShowMessage(messages::logSaveFailed() + u'\n' +
                              QDir::toNativeSeparators(siteLogPath(m_site.path)),
                          kStyleNotice);
}

void SiteWindow::checkAll()
{
    QList<int> rows;
    for (int row = 0; row < m_table->rowCount(); ++row)
        rows << row;
    check(rows);
}

void SiteWindow::checkCurrent()
{
    if (m_table->currentRow() >= 0)
        check({m_table->currentRow()});
}

void SiteWindow::check(const QList<int> &rows)
{
    if (m_busy || !m_site.problems.isEmpty() || rows.isEmpty() || !openLog())
        return;
    setBusy(true);
    QList<SiteRelay> relays;
    for (const int row : rows) {
        relays << m_results[row].relay;
        showState(row, QStringLiteral("確認待ち"), Status::NotReached);
    }
    SiteChecker checker(m_makeLine);
    m_checker = &checker;
    connect(&checker, &SiteChecker::pageAsked, this, [this](const QString &tag, int page) {
        if (const int row = rowOf(tag); row >= 0)
            showState(row, messages::progress(Progress::Reading, page + 1, kPageCount),
                      Status::NotReached);
    });
    connect(&checker, &SiteChecker::relayChecked, this, [this](const RelayCheck &result) {
        if (const int row = rowOf(result.relay.tag); row >= 0) {
            m_results[row] = result;
            showRow(row);
        }
        if (result.status != Status::NotReached && result.status != Status::DesignInvalid)
            appendLog(checkLogEntry(result, systemUserName()));
    });
    // A relay a stop left unread shows so, what it showed before gone: it was not read now.
    for (const RelayCheck &result : checker.check(relays)) {
        const int row = rowOf(result.relay.tag);
        m_results[row] = result;
        showRow(row);
    }
    m_checker = nullptr;
    int counts[2] = {}; // matching, not
    for (const RelayCheck &c : std::as_const(m_results))
        ++counts[c.status == Status::Match ? 0 : 1];
    m_summary->setText(
        QStringLiteral("一致 %1 台 / 一致しない・未確認 %2 台").arg(counts[0]).arg(counts[1]));
    m_table->resizeColumnsToContents();
    setBusy(false);
    reportLog();
}

void SiteWindow::writeSelected()
{
    if (m_busy || !m_site.problems.isEmpty() || !openLog())
        return;
    QList<RelayCheck> chosen;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        chosen << m_results[index.row()];
    std::sort(chosen.begin(), chosen.end(),
              [](const RelayCheck &a, const RelayCheck &b) { return a.relay.line < b.relay.line; });
    if (chosen.isEmpty()) {
        m_prompts.ShowMessage(QStringLiteral("書き込むリレーを選んでください。"), kStyleNotice);
        return;
    }
    // The same rules as the command line's: checked now, then only those that differ.
    QList<int> rows;
    for (const RelayCheck &c : std::as_const(chosen))
        rows << rowOf(c.relay.tag);
    check(rows);
    QList<RelayCheck> checks, toWrite;
    for (const int row : std::as_const(rows)) {
        checks << m_results[row];
        if (needsWrite(m_results[row]))
            toWrite << m_results[row];
    }
    if (toWrite.isEmpty()) {
        m_prompts.ShowMessage(QStringLiteral("選んだリレーに、設定ファイルと異なるものはありません"
                                             "。何も書き込みませんでした。"),
                              kStyleNotice);
        return;
    }
    if (m_prompts.ShowMessage(messages::siteWriteQuestion(toWrite), kStyleConfirm) != kAnswerYes)
        return;

    setBusy(true);
    SiteWriter writer(m_makeLine);
    m_writer = &writer;
    connect(&writer, &SiteWriter::progressed, this,
            [this](const QString &tag, Progress kind, int done, int total) {
                if (const int row = rowOf(tag); row >= 0)
                    showState(row, messages::progress(kind, done, total), Status::Differs);
            });
    connect(&writer, &SiteWriter::relayWritten, this, [this](const RelayWrite &w) {
        for (const SiteLogEntry &entry : writeLogEntries(w, systemUserName()))
            appendLog(entry);
        const int row = rowOf(w.check.relay.tag);
        if (row < 0 || w.status == RelayWrite::Status::LeftAlone)
            return;
        const bool holdsDesign = w.status == RelayWrite::Status::Verified;
        if (holdsDesign) {
            m_results[row].status = Status::Match;
            m_results[row].relayFingerprint = w.fingerprintAfter;
            m_results[row].differences.clear();
        }
        showRow(row);
        showState(row, messages::siteWriteText(w.status),
                  holdsDesign ? Status::Match : Status::Differs);
    });
    const QList<RelayWrite> writes = writer.write(checks, siteHistoryFolder(m_site.path));
    m_writer = nullptr;
    const SiteWriteCounts counts = countWrites(writes);
    m_summary->setText(
        QStringLiteral("書込 %1 台 (照合済み %2 台)、書込不要・中止 %3 台、未書込 %4 台")
            .arg(counts.written)
            .arg(counts.verified)
            .arg(counts.leftAlone)
            .arg(counts.notReached));
    m_table->resizeColumnsToContents();
    setBusy(false);
    reportLog();
}

void SiteWindow::saveRecord()
{
    if (m_busy || !m_site.problems.isEmpty() || !openLog())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const std::optional<QString> path =
        m_prompts.savePdfFileName(QStringLiteral("%1_記録_%2.pdf")
                                      .arg(QFileInfo(m_site.path).completeBaseName(),
                                           now.toString(QStringLiteral("yyyyMMdd_HHmm"))));
    if (!path)
        return;
    // What the record says of the last writes is the log as it stood before this reading.
    const QList<SiteLogEntry> log = m_log;
    checkAll();
    const SiteRecord record{m_site.path, systemUserName(), now, m_results, log};
    if (saveSiteRecordPdf(record, *path) != FileProblem::None)
        m_prompts.ShowMessage(messages::pdfSaveFailed(), kStyleNotice);
}

void SiteWindow::useInMainWindow(int row)
{
    if (row < 0 || row >= m_results.size() || m_main.commands().busy())
        return;
    const SiteRelay &relay = m_results[row].relay;
    if (!relay.designValid)
        return;
    m_main.setPortText(relay.port);
    Commands &commands = m_main.commands();
    commands.loadSettingsFileFrom(relay.designPath);
    // Guarded: a write from the main window now goes only to the station the row names.
    if (commands.outcome().succeeded())
        commands.setExpectedStation(relay.station);
    m_main.raise();
    m_main.activateWindow();
}

void SiteWindow::stop()
{
    if (m_checker)
        m_checker->stopBetweenRelays();
    if (m_writer)
        m_writer->stop();
}

void SiteWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        stop();
        return;
    }
    // The panel in front of the engineer, checked as they reach it.
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        checkCurrent();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SiteWindow::closeEvent(QCloseEvent *event)
{
    // A check or a write runs inside this window's own loop: it ends, then the window goes.
    if (m_busy) {
        stop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace veltra
