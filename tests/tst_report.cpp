#include "endtoend.h"
#include "expectedtexts.h"
#include "faultyline.h"
#include "operations/commands.h"
#include "pdftext.h"
#include "settings/changes.h"
#include "ui/changemarks.h"
#include "ui/settingsreport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

using namespace veltra;
using namespace veltra::test;

// The settings report, printed to PDF through the real window and read back with poppler's
// pdftotext (pdftext.h), as a reader of the paper would see it.
namespace {

QAction *action(MainWindow &w, const char *name)
{
    auto *found = w.findChild<QAction *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no action %s", name);
    return found;
}

// The lines under a page's heading, up to the next page's heading.
QStringList section(const QStringList &lines, int page)
{
    auto heading = [](int p) {
        return p == 0 ? QStringLiteral("共通設定") : QStringLiteral("回路 %1").arg(p);
    };
    const qsizetype start = lines.indexOf(heading(page));
    if (start < 0)
        return {};
    qsizetype end = page + 1 < kPageCount ? lines.indexOf(heading(page + 1), start) : -1;
    if (end < 0)
        end = lines.size();
    return lines.mid(start + 1, end - start - 1);
}

// The line that holds all of `parts`, in this order, or an empty string.
QString lineWith(const QStringList &lines, const QStringList &parts)
{
    for (const QString &rawLine : lines) {
        const QString line = comparable(rawLine);
        qsizetype at = 0;
        bool all = true;
        for (const QString &rawPart : parts) {
            const QString part = comparable(rawPart);
            at = line.indexOf(part, at);
            if (at < 0) {
                all = false;
                break;
            }
            at += part.size();
        }
        if (all)
            return line;
    }
    return {};
}

// What the user does before the report is made; Save is 編集した設定値を保存.
enum class Step { Verify, ReadAll, CopyAll, WriteAll, Decline, Clear, Save, Load, Edit, OtherPort };

void act(Bench &bench, Step step, const QString &file)
{
    MainWindow &w = bench.w();
    switch (step) {
    case Step::Verify:
        w.serviceWindow().verifyOption()->click();
        break;
    case Step::ReadAll:
        button(w, QStringLiteral("Command12"))->click();
        break;
    case Step::CopyAll:
        button(w, QStringLiteral("Command16"))->click();
        break;
    case Step::WriteAll:
    case Step::Decline:
        bench.prompts.answers << (step == Step::WriteAll ? kAnswerYes : kAnswerNo);
        button(w, QStringLiteral("Command13"))->click();
        break;
    case Step::Clear:
        w.serviceWindow().clearOption(0)->click();
        bench.prompts.answers << kAnswerYes;
        button(w, QStringLiteral("Command11"))->click();
        break;
    case Step::Save:
        bench.prompts.saveNames << file;
        action(w, "ActionSaveEdited")->trigger();
        break;
    case Step::Load:
        bench.prompts.openNames << file;
        bench.prompts.answers << kAnswerYes;
        action(w, "ActionOpen")->trigger();
        break;
    case Step::Edit: { // another entry picked from circuit 3's list, as by hand
        auto *combo = w.findChild<QComboBox *>(QStringLiteral("Combo4_1"));
        combo->setCurrentIndex((combo->currentIndex() + 1) % combo->count());
        break;
    }
    case Step::OtherPort:
        w.setPortText(QStringLiteral("/dev/veltra-other-relay"));
        break;
    }
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT
private slots:
    void pdfOfAKnownRelay();
    void pdfNamesTheLastSettingsFile();
    void pdfCancelledOrFailed();
    void pdfMarksValuesOfAnotherPort();
    void headerTellsWhatWasDone_data();
    void headerTellsWhatWasDone();
    void printPreviewShowsTheReport();
};

void TestReport::pdfOfAKnownRelay()
{
    Bench bench;
    QVERIFY(bench.start());
    MainWindow &w = bench.w();
    button(w, QStringLiteral("Command12"))->click();
    button(w, QStringLiteral("Command16"))->click();
    w.setSetValue(3, 1, QStringLiteral("50(mA)"));  // pending: 100(mA) → 50(mA)
    w.setSetValue(5, 4, QStringLiteral("9.9(秒)")); // not a listed value
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    bench.prompts.pdfNames << path;
    action(w, "ActionPdf")->trigger();
    QCOMPARE(bench.prompts.texts(), QStringList{text::kAllRead}); // nothing more to say
    QVERIFY(QRegularExpression(QStringLiteral("^VELTRA設定_\\d{8}_\\d{4}\\.pdf$"))
                .match(bench.prompts.proposedPdfNames.value(0))
                .hasMatch());

    const QStringList lines = pdfLines(path);
    QVERIFY2(!lines.isEmpty(), "pdftotext (poppler-utils) read nothing");
    QVERIFY(!lineWith(lines, {QStringLiteral("VELTRA 設定値レポート")}).isEmpty());
    QVERIFY(QRegularExpression(QStringLiteral("作成日時: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d"))
                .match(comparable(lines.join(u'\n')))
                .hasMatch());
    QVERIFY(!lineWith(lines, {QStringLiteral("COMポート:"), bench.sim.portPath(),
                              QStringLiteral("局番号: 012")})
                 .isEmpty());
    QVERIFY(!lineWith(lines, {QStringLiteral("設定ファイル: なし")}).isEmpty());
    // 9.9(秒) cannot be written: the set values have no fingerprint.
    QVERIFY(QRegularExpression(QStringLiteral("フィンガープリント: 現在値 [0-9A-F]{8}\\s+設定値 —"))
                .match(comparable(lines.join(u'\n')))
                .hasMatch());

    // Every item of every page, in its row: label, present value, set value.
    const sim::RelaySettings relay = sim::defaultSettings();
    for (int page = 0; page < kPageCount; ++page) {
        const QStringList rows = section(lines, page);
        QVERIFY2(rows.size() >= itemCount(page) + 1, qPrintable(QString::number(page)));
        for (int item = 0; item < itemCount(page); ++item) {
            const QString present = expectedTexts(relay, page).at(item);
            const QString label = rowLabel(pageKind(page), item);
            const QString set = w.setValue(page, item);
            const QString row = lineWith(rows, {label, present, set});
            QVERIFY2(
                !row.isEmpty(),
                qPrintable(QStringLiteral("page %1: %2 %3 %4").arg(page).arg(label, present, set)));
            // Marked as on screen, in words too for a black-and-white printer.
            const FieldMark mark = w.changeMarks().mark(page, item);
            QCOMPARE(row.contains(QStringLiteral("変わる")), mark == FieldMark::Pending);
            QCOMPARE(row.contains(QStringLiteral("書込不可")), mark == FieldMark::Warning);
        }
    }
    QVERIFY(!lineWith(section(lines, 3),
                      {QStringLiteral("絶縁監視動作感度設定"), QStringLiteral("100(mA)"),
                       QStringLiteral("50(mA)"), QStringLiteral("変わる")})
                 .isEmpty());
    QVERIFY(
        !lineWith(section(lines, 5), {QStringLiteral("漏電監視時限設定"), QStringLiteral("1.0(秒)"),
                                      QStringLiteral("9.9(秒)"), QStringLiteral("書込不可")})
             .isEmpty());
    const int pages = pdfPageCount(path);
    QVERIFY(pages >= 1);
    for (int p = 1; p <= pages; ++p)
        QVERIFY(!lineWith(lines, {QStringLiteral("%1 / %2").arg(p).arg(pages)}).isEmpty());
}

void TestReport::pdfNamesTheLastSettingsFile()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setPresentValue(page, item, textOfCode(pageKind(page), item, 0));
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("relay-7.DT"));
    prompts.saveNames << saved;
    action(w, "ActionSave")->trigger(); // the menu saves as the button does
    QVERIFY(QFile::exists(saved));
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    prompts.pdfNames << pdf;
    action(w, "ActionPdf")->trigger();
    QVERIFY(
        !lineWith(pdfLines(pdf), {QStringLiteral("設定ファイル:"), QDir::toNativeSeparators(saved)})
             .isEmpty());
}

void TestReport::pdfCancelledOrFailed()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QTemporaryDir dir;
    // Cancelled: not even the proposed name is written, here or anywhere relative.
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    prompts.pdfNames << std::nullopt;
    action(w, "ActionPdf")->trigger();
    QDir::setCurrent(before);
    QCOMPARE(prompts.proposedPdfNames.size(), 1);
    QVERIFY(QDir(dir.path()).isEmpty());
    QVERIFY(prompts.messages.isEmpty());

    // A folder that does not exist: said so, and nothing written anywhere.
    prompts.pdfNames << dir.filePath(QStringLiteral("missing/r.pdf"));
    action(w, "ActionPdf")->trigger();
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("PDFを保存できませんでした。")});
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestReport::pdfMarksValuesOfAnotherPort()
{
    // The record on paper says, as the window does, which values may not be this relay's.
    Bench bench;
    QVERIFY(bench.start());
    button(bench.w(), QStringLiteral("Command12"))->click();
    bench.w().setPortText(QStringLiteral("/dev/veltra-other-relay"));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    bench.prompts.pdfNames << pdf;
    action(bench.w(), "ActionPdf")->trigger();
    const QStringList lines = pdfLines(pdf);
    for (int page : {0, 8})
        QVERIFY2(
            !lineWith(lines, {page == 0 ? QStringLiteral("共通設定") : QStringLiteral("回路 8"),
                              bench.sim.portPath() + QStringLiteral(" から読み込んだ値です"),
                              QStringLiteral("/dev/veltra-other-relay")})
                 .isEmpty(),
            qPrintable(lines.join(u'\n')));
}

void TestReport::headerTellsWhatWasDone_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QStringList>("expected"); // patterns, %port and %file filled in
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("failFrom"); // the write frame from which nothing leaves; 0: none
    const auto row = [](const char *name, const QList<Step> &steps, const QStringList &expected,
                        const QStringList &simArgs = {}, int failFrom = 0) {
        QTest::newRow(name) << steps << expected << simArgs << failFrom;
    };
    const QString time = QStringLiteral("\\d\\d:\\d\\d:\\d\\d");
    const QString read = QStringLiteral("現在値: %port から \\d{4}-\\d\\d-\\d\\d %1(～%1)? に読込 "
                                        "\\(9/9\\)")
                             .arg(time);
    const QString write = QStringLiteral("最後の書込: %1 ").arg(time);
    using enum Step;
    row("nothing done", {},
        {"局番号: 未読込$", "^現在値: 未読込$", "^最後の書込: なし$", "^設定ファイル: なし$"});
    row("read, written, verified", {Verify, ReadAll, CopyAll, WriteAll},
        {"%port\\s+局番号: 012$", read + u'$', write + "全設定値 書込・照合済み$"});
    row("written, a later write declined", {ReadAll, CopyAll, WriteAll, Decline},
        {write + "全設定値 書込済み・未照合$"});
    row("verified, an item not taken", {Verify, ReadAll, CopyAll, Edit, WriteAll},
        {write + "全設定値 書込済み・照合で不一致 1 件$"}, {"--ignore-write", "3:1"});
    row("write stopped at circuit 3", {ReadAll, CopyAll, WriteAll},
        {write + "全設定値 書込に失敗 \\(回路３で停止\\)$"}, {}, 4);
    row("clear", {Clear}, {write + "動作値クリア 送信済み$"});
    row("loaded, then edited", {ReadAll, CopyAll, Save, Load, Edit},
        {"^設定ファイル: %file \\(編集済み\\)$"});
    row("edited, then saved", {ReadAll, CopyAll, Save, Edit, Save}, {"^設定ファイル: %file$"});
    row("read on another port", {ReadAll, OtherPort},
        {read + "、うち 9 ページは古い値 \\(ページごとに注記\\)$"});
}

void TestReport::headerTellsWhatWasDone()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, simArgs);
    QFETCH(int, failFrom);
    Bench bench;
    QVERIFY(bench.start(simArgs, failFrom > 0 ? new FaultyLine(failFrom) : nullptr));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("relay.DT"));
    for (Step step : steps)
        act(bench, step, file);
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    bench.prompts.pdfNames << pdf;
    action(bench.w(), "ActionPdf")->trigger();
    const QStringList lines = pdfLines(pdf);
    for (QString pattern : expected) {
        pattern.replace(QStringLiteral("%port"), QRegularExpression::escape(bench.sim.portPath()))
            .replace(QStringLiteral("%file"),
                     QRegularExpression::escape(QDir::toNativeSeparators(file)));
        const QRegularExpression re(comparable(pattern));
        QVERIFY2(std::any_of(lines.begin(), lines.end(),
                             [&](const QString &line) { return re.match(line).hasMatch(); }),
                 qPrintable(pattern + u'\n' + lines.mid(0, 10).join(u'\n')));
    }
}

void TestReport::printPreviewShowsTheReport()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    int pages = -1;
    QString title;
    QPageLayout::Orientation before = QPageLayout::Landscape, after = QPageLayout::Portrait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &w, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *preview = qobject_cast<QPrintPreviewDialog *>(top);
            if (!preview || !preview->isVisible())
                continue;
            title = preview->windowTitle();
            auto *widget = preview->findChild<QPrintPreviewWidget *>();
            if (widget) {
                pages = widget->pageCount();
                before = widget->orientation();
                // The preview's own control: the report is drawn anew and must stay turned.
                for (QAction *action : preview->findChildren<QAction *>()) {
                    if (action->text() == QLatin1String("Landscape"))
                        action->trigger();
                }
                after = widget->orientation();
            }
            preview->reject();
            poll.stop();
        }
    });
    poll.start(50);
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier); // the menu's shortcut
    QCOMPARE(title, QStringLiteral("印刷プレビュー"));
    QVERIFY2(pages >= 1, qPrintable(QString::number(pages)));
    QCOMPARE(before, QPageLayout::Portrait);
    QCOMPARE(after, QPageLayout::Landscape);
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
