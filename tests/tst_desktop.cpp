#include "link/serialport.h"
#include "scriptedprompts.h"
#include "settings/items.h"
#include "ui/helpwindow.h"
#include "ui/mainwindow.h"
#include "ui/porttooltip.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHelpEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace veltra;
using veltra::test::ScriptedPrompts;

// What the desktop brings: the ports present, and settings files opened from outside.
namespace {

const QString kLoaded = QStringLiteral("設定値が読み込まれました。");

QString confirmation(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()) + u'\n' +
           QStringLiteral("のVELTRA設定ファイルを読み込みます。");
}

// A settings file with the first value of every item, saved through the window itself.
QString makeSettingsFile(const QString &folder)
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setPresentValue(page, item, textOfCode(pageKind(page), item, 0));
    const QString path = QDir(folder).filePath(QStringLiteral("standard.DT"));
    prompts.saveNames << path;
    w.findChild<QPushButton *>(QStringLiteral("Command15"))->click();
    return path;
}

bool drop(MainWindow &w, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = w.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &dropEvent);
    return dropEvent.isAccepted();
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void portNamesInOrder_data();
    void portNamesInOrder();
    void portToolTip_data();
    void portToolTip();
    void portToolTipIsMadeWhenShown();
    void fileFromOutsideTakesTheLoadPath();
    void droppedFileLoads();
    void dropsThatAreNoSettingsFile_data();
    void dropsThatAreNoSettingsFile();
};

void TestDesktop::portNamesInOrder_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("COM2 before COM10") << "COM2"
                                       << "COM10";
    QTest::newRow("ttyS2 before ttyS10") << "/dev/ttyS2"
                                         << "/dev/ttyS10";
    QTest::newRow("ttyS before ttyUSB") << "/dev/ttyS9"
                                        << "/dev/ttyUSB0";
    QTest::newRow("no number first") << "COM"
                                     << "COM1";
}

void TestDesktop::portNamesInOrder()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(portNameLess(first, second));
    QVERIFY(!portNameLess(second, first));
    QVERIFY(!portNameLess(first, first));
}

void TestDesktop::portToolTip_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QList<PresentPort>>("ports");
    QTest::addColumn<QStringList>("lines"); // each must be a line of the tooltip
#ifdef Q_OS_WIN
    const QString three = QStringLiteral("3 → COM3");
    const PresentPort usb{QStringLiteral("COM12"), QStringLiteral("USB Serial Port (COM12)")};
#else
    const QString three = QStringLiteral("3 → /dev/ttyS2");
    const PresentPort usb{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("USB-Serial Controller")};
#endif
    QTest::newRow("number, no ports")
        << "3" << QList<PresentPort>{}
        << QStringList{"パソコンのRS-232のポートを選択します。", three,
                       "このパソコンのシリアルポート:", "　見つかりません"};
    QTest::newRow("a typed name, two ports")
        << usb.name << QList<PresentPort>{{QStringLiteral("COM1"), QString()}, usb}
        << QStringList{usb.name + QStringLiteral(" → ") + usb.name, "　COM1",
                       QStringLiteral("　%1　%2").arg(usb.name, usb.description)};
    QTest::newRow("nothing to open")
        << "0" << QList<PresentPort>{} << QStringList{"\"0\" で開けるポートはありません。"};
}

void TestDesktop::portToolTip()
{
    QFETCH(QString, field);
    QFETCH(QList<PresentPort>, ports);
    QFETCH(QStringList, lines);
    const QStringList tip = portFieldToolTip(field, ports).split(u'\n');
    for (const QString &line : lines)
        QVERIFY2(tip.contains(line), qPrintable(line + QStringLiteral(" in:\n") + tip.join(u'\n')));
#ifdef Q_OS_WIN
    QVERIFY(!tip.join(u'\n').contains(QStringLiteral("dialout")));
#else
    // Where a port that is there will not open, the tooltip says why it usually is, and
    // points to the help that says more.
    QVERIFY(tip.join(u'\n').contains(QStringLiteral("dialout")));
    QVERIFY(tip.constLast().contains(QStringLiteral("[追加機能]「ポートが開けないとき」")));
    QVERIFY(HelpWindow::additionsText().contains(QStringLiteral("　ポートが開けないとき\n")));
#endif
}

void TestDesktop::portToolTipIsMadeWhenShown()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *field = w.findChild<QComboBox *>(QStringLiteral("Combo10"));
    field->setEditText(QStringLiteral("2"));
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), field->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(field, &hover);
    QCOMPARE(field->toolTip(), portFieldToolTip(QStringLiteral("2"), presentPorts()));
    field->setEditText(QStringLiteral("COM12"));
    QApplication::sendEvent(field, &hover);
    QVERIFY(field->toolTip().contains(QStringLiteral("COM12 → COM12")));
}

void TestDesktop::fileFromOutsideTakesTheLoadPath()
{
    // As main() does for a file named on the command line (a double-click on Windows).
    QTemporaryDir dir;
    const QString path = makeSettingsFile(dir.path());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    prompts.answers.enqueue(kAnswerYes);
    w.openSettingsFileLater(path);
    QVERIFY(prompts.messages.isEmpty()); // not before the event loop runs
    QTRY_COMPARE(prompts.texts(), (QStringList{confirmation(path), kLoaded}));
    QCOMPARE(w.setValue(3, 1), textOfCode(PageKind::Circuit, 1, 0));

    // Answered No: nothing changes, nothing more is said.
    prompts.clear();
    w.setSetValue(3, 1, QStringLiteral("50(mA)"));
    w.openSettingsFileLater(path);
    QTRY_COMPARE(prompts.texts(), QStringList{confirmation(path)});
    QCOMPARE(w.setValue(3, 1), QStringLiteral("50(mA)"));

    // A file that is not one: the load's own message.
    prompts.clear();
    const QString other = dir.filePath(QStringLiteral("notes.DT"));
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("notes\r\n");
    file.close();
    prompts.answers.enqueue(kAnswerYes);
    w.openSettingsFileLater(other);
    QTRY_COMPARE(
        prompts.texts(),
        (QStringList{confirmation(other),
                     QStringLiteral("VELTRA設定ファイルではありません。読み込みを終了します。")}));
}

void TestDesktop::droppedFileLoads()
{
    QTemporaryDir dir;
    const QString path = makeSettingsFile(dir.path());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QVERIFY(w.acceptDrops());
    prompts.answers.enqueue(kAnswerYes);
    QVERIFY(drop(w, {QUrl::fromLocalFile(path)}));
    QTRY_COMPARE(prompts.texts(), (QStringList{confirmation(path), kLoaded}));
    QCOMPARE(w.setValue(0, 0), textOfCode(PageKind::Common, 0, 0));
}

void TestDesktop::dropsThatAreNoSettingsFile_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::newRow("a PDF") << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.pdf"))};
    QTest::newRow("two files") << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.DT")),
                                              QUrl::fromLocalFile(QStringLiteral("/tmp/b.DT"))};
    QTest::newRow("a web address")
        << QList<QUrl>{QUrl(QStringLiteral("https://example.invalid/a.DT"))};
    QTest::newRow("nothing") << QList<QUrl>{};
}

void TestDesktop::dropsThatAreNoSettingsFile()
{
    QFETCH(QList<QUrl>, urls);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QVERIFY(!drop(w, urls));
    QTest::qWait(50);
    QVERIFY(prompts.messages.isEmpty());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
