#include "link/portdetails.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/messages.h"
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
    void windowsDeviceIds_data();
    void windowsDeviceIds();
    void latencyTimerNotice_data();
    void latencyTimerNotice();
    void bluetoothPortsOnlyWhenNamed();
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
    QTest::newRow("a device server, raw")
        << "socket://gw:4001" << QList<PresentPort>{}
        << QStringList{"socket://gw:4001 → gw のポート 4001 に TCP で接続します。"};
    QTest::newRow("a device server, RFC 2217")
        << "rfc2217://[fd00::7]:4002" << QList<PresentPort>{}
        << QStringList{"rfc2217://[fd00::7]:4002 → fd00::7 のポート 4002 に Telnet (RFC 2217) "
                       "で接続し、",
                       "　9600bps・7ビット・偶数パリティ・ストップビット1に設定します。"};
    QTest::newRow("nothing to open")
        << "0" << QList<PresentPort>{} << QStringList{"\"0\" で開けるポートはありません。"};
    // Three identical adapters told apart; the slow one says how to make it fast.
    PresentPort adapter{QStringLiteral("COM5"), QStringLiteral("USB Serial Port (COM5)"),
                        QStringLiteral("FTDI"), QStringLiteral("0403:6001"),
                        QStringLiteral("A50285BI")};
    adapter.latencyTimerMs = 16;
    PresentPort quick = adapter;
    quick.name = QStringLiteral("COM6");
    quick.description = QStringLiteral("USB Serial Port (COM6)");
    quick.serialNumber = QStringLiteral("A50285BJ");
    quick.latencyTimerMs = 4;
    QTest::newRow("USB adapters")
        << "5" << QList<PresentPort>{adapter, quick}
        << QStringList{
               "　COM5　USB Serial Port (COM5)　FTDI　USB 0403:6001　シリアル番号 A50285BI",
               "　　このUSBシリアル変換器の応答待ち時間 (Latency Timer) は 16 ms です。",
               "　　デバイスマネージャー → ポートの設定 → 詳細設定 で 1～4 ms "
               "にすると読み込みが速くなります。",
               "　COM6　USB Serial Port (COM6)　FTDI　USB 0403:6001　シリアル番号 A50285BJ"};
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
    // A latency timer low enough is nothing to mention.
    QCOMPARE(tip.filter(QStringLiteral("Latency Timer")).size(),
             std::count_if(ports.begin(), ports.end(), [](const PresentPort &port) {
                 return port.latencyTimerMs > kLatencyTimerLimitMs;
             }));
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

void TestDesktop::windowsDeviceIds_data()
{
    QTest::addColumn<QStringList>("hardwareIds");
    QTest::addColumn<QStringList>("instanceIds"); // the port's, then its parents'
    QTest::addColumn<QString>("usbId");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<bool>("bluetooth");
    QTest::newRow("FTDI adapter: its own bus under the USB device")
        << QStringList{"FTDIBUS\\COMPORT&VID_0403&PID_6001"}
        << QStringList{"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
                       "USB\\VID_0403&PID_6001\\A50285BI", "USB\\ROOT_HUB30\\4&2A1B&0&0"}
        << "0403:6001"
        << "A50285BI" << false;
    QTest::newRow("CDC modem: the USB device itself")
        << QStringList{"USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043"}
        << QStringList{"USB\\VID_2341&PID_0043\\75330303035351A0B0A1"} << "2341:0043"
        << "75330303035351A0B0A1" << false;
    QTest::newRow("interface of a composite device, lower-case hex")
        << QStringList{"USB\\VID_10c4&PID_ea71&MI_00"}
        << QStringList{"USB\\VID_10C4&PID_EA71&MI_00\\6&2B3C4D&0&0000",
                       "USB\\VID_10C4&PID_EA71\\0123ABCD"}
        << "10C4:EA71"
        << "0123ABCD" << false;
    QTest::newRow("no serial number: Windows made one up, the hub's is not it")
        << QStringList{"USB\\VID_067B&PID_2303&REV_0300"}
        << QStringList{"USB\\VID_067B&PID_2303\\5&1F2E3D&0&2", "USB\\VID_05E3&PID_0610\\HUB0001"}
        << "067B:2303"
        << "" << false;
    QTest::newRow("Bluetooth")
        << QStringList{"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002"}
        << QStringList{"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&"
                       "2E5F&0&001122334455_C00000000"}
        << ""
        << "" << true;
    QTest::newRow("built-in UART")
        << QStringList{"ACPI\\PNP0501", "*PNP0501"} << QStringList{"ACPI\\PNP0501\\1"} << ""
        << "" << false;
}

void TestDesktop::windowsDeviceIds()
{
    QFETCH(QStringList, hardwareIds);
    QFETCH(QStringList, instanceIds);
    QFETCH(QString, usbId);
    QFETCH(QString, serialNumber);
    QFETCH(bool, bluetooth);
    QCOMPARE(usbIdFromHardwareIds(hardwareIds), usbId);
    QCOMPARE(usbSerialNumber(instanceIds), serialNumber);
    QCOMPARE(isBluetoothPort(instanceIds.constFirst()), bluetooth);
}

void TestDesktop::latencyTimerNotice_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("notice");
    const QString sixteen = QStringLiteral(
        "このUSBシリアル変換器の応答待ち時間 (Latency Timer) は 16 ms です。デバイスマネージャー "
        "→ ポートの設定 → 詳細設定 で 1～4 ms にすると読み込みが速くなります。");
    QTest::newRow("1 ms") << 1 << "";
    QTest::newRow("4 ms") << 4 << "";
    QTest::newRow("5 ms") << 5 << QString(sixteen).replace(QStringLiteral(" 16 "), " 5 ");
    QTest::newRow("16 ms, the drivers' default") << 16 << sixteen;
    QTest::newRow("255 ms") << 255 << QString(sixteen).replace(QStringLiteral(" 16 "), " 255 ");
}

void TestDesktop::latencyTimerNotice()
{
    QFETCH(int, ms);
    QFETCH(QString, notice);
    const std::optional<LineNotice> slow = veltra::latencyTimerNotice(QStringLiteral("COM7"), ms);
    QCOMPARE(slow ? messages::lineNotice(*slow) : QString(),
             notice.isEmpty() ? QString() : QStringLiteral("COM7: ") + notice);
}

void TestDesktop::bluetoothPortsOnlyWhenNamed()
{
    const QList<PresentPort> present{
        {QStringLiteral("COM3"), QStringLiteral("USB Serial Port (COM3)")},
        {QStringLiteral("COM4"),
         QStringLiteral("Standard Serial over Bluetooth link (COM4)"),
         {},
         {},
         {},
         true},
        {QStringLiteral("COM5"),
         QStringLiteral("Standard Serial over Bluetooth link (COM5)"),
         {},
         {},
         {},
         true}};
    QCOMPARE(relaySearchPorts(present, {}), QStringList{"COM3"});
    QCOMPARE(relaySearchPorts(present, {QStringLiteral("COM5")}), (QStringList{"COM3", "COM5"}));
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
