// The site window as an engineer meets it: opened from the main window's menu, its relays
// checked on pseudo-terminals, one written, one handed to the main window, a check stopped.

#include "endtoend.h"
#include "knownfile.h"
#include "site/sitelog.h"
#include "sitefiles.h"
#include "ui/sitewindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace veltra;
using namespace veltra::test;

class TestSiteWindow : public QObject
{
    Q_OBJECT
private slots:
    void checkWriteAndHandOver();
    void escStopsBetweenRelays();
};

namespace {

QStringList column(const QTableWidget &table, int column)
{
    QStringList texts;
    for (int row = 0; row < table.rowCount(); ++row)
        texts << (table.item(row, column) ? table.item(row, column)->text() : QString());
    return texts;
}

// A site window opened through ファイル → サイトを開く... on the site file `csv`.
SiteWindow *openThroughMenu(MainWindow &w, ScriptedPrompts &prompts, const QString &csv)
{
    prompts.siteNames.enqueue(csv);
    w.findChild<QAction *>(QStringLiteral("ActionOpenSite"))->trigger();
    return w.siteWindow();
}

} // namespace

void TestSiteWindow::checkWriteAndHandOver()
{
    QTemporaryDir dir;
    putDesigns(dir);
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    RelaySim same, differs, silent, garbled;
    for (RelaySim *sim : {&same, &differs})
        QVERIFY(sim->start({QStringLiteral("--settings"), known}));
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    QVERIFY(garbled.start({QStringLiteral("--fault"), QStringLiteral("bad-checksum")}));
    const QString csv = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(csv, QStringLiteral("名称,場所,ポート,局番号,設定ファイル\n"
                                    "A,盤1,%1,128,known.DT\nA-old,盤1,%1,014,known.DT\n"
                                    "B,盤2,%2,128,other.DT\nC,盤3,%3,128,known.DT\n"
                                    "D,盤4,%4,128,known.DT\nE,盤5,%5,128,known.DT\n")
                         .arg(same.portPath(), differs.portPath(), silent.portPath(),
                              garbled.portPath(), dir.filePath(QStringLiteral("none")))
                         .toUtf8()));

    ScriptedPrompts prompts;
    MainWindow w(&prompts, same.portPath());
    w.show();
    SiteWindow *site = openThroughMenu(w, prompts, csv);
    QVERIFY(site && site->isVisible() && site->isWindow());
    QTableWidget &table = *site->table();
    QCOMPARE(column(table, SiteWindow::TagColumn), (QStringList{"A", "A-old", "B", "C", "D", "E"}));

    // Walking up to panel 3: F5 checks that row alone.
    table.setCurrentCell(2, 0);
    QTest::keyClick(site, Qt::Key_F5);
    QCOMPARE(column(table, SiteWindow::StateColumn)[2], QStringLiteral("相違あり"));
    QVERIFY(same.frames().isEmpty());

    site->findChild<QPushButton *>(QStringLiteral("CheckAllButton"))->click();
    QCOMPARE(column(table, SiteWindow::StateColumn),
             (QStringList{"一致", "局番号違い", "相違あり", "応答なし", "データ異常",
                          "ポート使用不可"}));
    QCOMPARE(column(table, SiteWindow::DifferencesColumn)[2], QStringLiteral("1"));
    QCOMPARE(column(table, SiteWindow::StationReadColumn)[1], QStringLiteral("128"));
    // Each state its own tint; the words carry it without colour.
    QSet<QRgb> tints;
    for (int row = 0; row < table.rowCount(); ++row)
        tints << table.item(row, SiteWindow::StateColumn)->background().color().rgb();
    QCOMPARE(tints.size(), 4); // match, differs, wrong station, unread alike
    QVERIFY(w.grab().save(dir.filePath(QStringLiteral("main.png")))); // drawn without fault
    QVERIFY(site->grab().save(dir.filePath(QStringLiteral("site.png"))));

    // Written: A (it matches) and B selected; only B is listed and written.
    table.clearSelection();
    table.selectRow(0);
    table.setRangeSelected(QTableWidgetSelectionRange(2, 0, 2, SiteWindow::ColumnCount - 1), true);
    prompts.answers.enqueue(kAnswerYes);
    const qsizetype asked = prompts.messages.size();
    site->findChild<QPushButton *>(QStringLiteral("WriteButton"))->click();
    QCOMPARE(prompts.messages.size(), asked + 1);
    const QString question = prompts.messages.constLast().text;
    QVERIFY2(question.contains(
                 QStringLiteral("  B  %1  局番号 128  変更 1 項目").arg(differs.portPath())),
             qPrintable(question));
    QVERIFY(!question.contains(QStringLiteral("  A  ")));
    QCOMPARE(int(writtenPages(differs).size()), 9);
    QCOMPARE(int(writtenPages(same).size()), 0);
    QCOMPARE(column(table, SiteWindow::StateColumn)[2], QStringLiteral("書込・照合済み"));
    QVERIFY(column(table, SiteWindow::LastWriteColumn)[2].contains(QStringLiteral("書込済み")));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("plant.history")))
                 .entryList({QStringLiteral("B_*.DT")}, QDir::Files)
                 .size(),
             1);
    const QList<SiteLogEntry> log = readSiteLog(siteLogPath(csv));
    QVERIFY(lastEntry(log, QStringLiteral("B"), QStringLiteral("verify")));
    QCOMPARE(lastEntry(log, QStringLiteral("B"), QStringLiteral("verify"))->result,
             QStringLiteral("verified"));

    // The record: every relay read again, and a PDF where the dialog said.
    const QString pdf = dir.filePath(QStringLiteral("record.pdf"));
    prompts.pdfNames.enqueue(pdf);
    const qsizetype framesBefore = same.frames().size();
    site->findChild<QPushButton *>(QStringLiteral("RecordButton"))->click();
    QVERIFY(same.frames().size() > framesBefore);
    QVERIFY(QFile(pdf).size() > 1000);
    QVERIFY(prompts.proposedPdfNames.constLast().startsWith(QStringLiteral("plant_記録_")));

    // A double-click hands B to the main window: its port, its design as the values to write,
    // its station as the one a write must find.
    prompts.answers.enqueue(kAnswerYes); // the load's confirmation
    const QRect rect = table.visualRect(table.model()->index(2, 0));
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(w.portText(), differs.portPath());
    QCOMPARE(w.setValue(1, 1), QStringLiteral("50(mA)"));
    QCOMPARE(w.commands().expectedStation(), std::optional<int>(128));
}

void TestSiteWindow::escStopsBetweenRelays()
{
    QTemporaryDir dir;
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    QVERIFY(put(known, kKnownFile));
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--settings"), known, QStringLiteral("--wire-time")}));
    const QString csv = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(csv, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                    "A,%1,128,known.DT\nB,%1,128,known.DT\n")
                         .arg(sim.portPath())
                         .toUtf8()));
    ScriptedPrompts prompts;
    MainWindow w(&prompts, sim.portPath());
    SiteWindow *site = openThroughMenu(w, prompts, csv);
    QVERIFY(site);
    // Esc as the first relay's first page is asked for: that relay is read to its end.
    bool pressed = false;
    connect(site, &SiteWindow::stateShown, site, [&](int row, const QString &text) {
        if (!pressed && row == 0 && text.startsWith(QStringLiteral("読込中"))) {
            pressed = true;
            QTest::keyClick(site, Qt::Key_Escape);
        }
    });
    site->checkAll();
    QVERIFY(pressed);
    QCOMPARE(column(*site->table(), SiteWindow::StateColumn), (QStringList{"一致", "未確認"}));
    QCOMPARE(sim.frames().size(), 9);

    // A site log that cannot be opened: said, and nothing is sent.
    const QString log = siteLogPath(csv);
    QVERIFY(QFile::remove(log) && QDir().mkdir(log));
    QVERIFY(site->openSite(csv));
    const qsizetype notices = prompts.messages.size();
    site->checkAll();
    QCOMPARE(prompts.messages.size(), notices + 1);
    QVERIFY(prompts.messages.constLast().text.startsWith(
        QStringLiteral("ログを保存できませんでした。")));
    QCOMPARE(sim.frames().size(), 9);
}

QTEST_MAIN(TestSiteWindow)
#include "tst_sitewindow.moc"
