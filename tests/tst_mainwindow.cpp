#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "scriptedprompts.h"
#include "settings/items.h"
#include "ui/helpwindow.h"
#include "ui/mainwindow.h"
#include "ui/messageboxes.h"
#include "ui/qtjapanese.h"
#include "ui/servicewindow.h"
#include "ui/windowplacement.h"
#include "version.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

using namespace veltra;
using veltra::test::ScriptedPrompts;

namespace {

QString presentName(int page, int item)
{
    return QStringLiteral("Text%1_%2").arg(page == 0 ? 9 : page).arg(item);
}
QString setName(int page, int item)
{
    return QStringLiteral("Combo%1_%2").arg(page + 1).arg(item);
}

template<typename T> T *child(QWidget &root, const QString &name)
{
    T *widget = root.findChild<T *>(name);
    if (!widget)
        qWarning("no widget %s", qPrintable(name));
    return widget;
}

QStringList entries(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

// Answers the next real message box from inside its own event loop.
void answerNextBox(QMessageBox::StandardButton button, QString *title, QString *text,
                   QPoint *position, QMessageBox::StandardButton *defaultButton = nullptr)
{
    QTimer::singleShot(50, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        *title = box->windowTitle();
        *text = box->text();
        *position = box->pos();
        if (defaultButton)
            *defaultButton = box->standardButton(box->defaultButton());
        box->button(button)->click();
    });
}

enum class FileDialog { Save, SaveEdited, Open, Pdf, Log };

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void windowFrame();
    void startUpFields();
    void setValueLists_data();
    void setValueLists();
    void portField();
    void portOptionReplacesInitialText();
    void tabsAndHeadings();
    void pagesUseTheWindowFont();
    void commonRowsInScreenOrder();
    void pageButtons_data();
    void pageButtons();
    void topButtons_data();
    void topButtons();
    void focusOrder();
    void accessibleNames();
    void monitorAndClearControlsAreOffTheMainWindow();
    void serviceWindowShortcut();
    void monitorOpensBesideTheWindow_data();
    void monitorOpensBesideTheWindow();
    void lineNoticeShowsWithTheMonitor_data();
    void lineNoticeShowsWithTheMonitor();
    void tabKeysWorkFromAnywhere_data();
    void tabKeysWorkFromAnywhere();
    void setValueTakesAnyText();
    void messageBoxPosition_data();
    void messageBoxPosition();
    void realMessageBoxes();
    void qtDialogsSpeakJapanese();
    void fileDialogsAddTheirSuffix_data();
    void fileDialogsAddTheirSuffix();
    void messageShowsForMinimisedWindow();
    void helpWindowIsSingle();
    void exitWithClosedPortEndsQuietly();
    void closeBoxEndsAtOnce();
};

void TestMainWindow::windowFrame()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QCOMPARE(w.windowTitle(), QStringLiteral("VELTRA 設定ソフト Ver." VELTRA_VERSION_SHORT));
    // The classic client area, under the menu bar.
    QCOMPARE(w.centralWidget()->size(), QSize(553, 416));
    // The menu bar above it, the status line below.
    QCOMPARE(w.size(), QSize(553, 416 + w.menuBar()->sizeHint().height() + 22));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
}

void TestMainWindow::startUpFields()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (int page = 0; page < kPageCount; ++page) {
        for (int item = 0; item < itemCount(page); ++item) {
            auto *present = child<QLineEdit>(w, presentName(page, item));
            auto *set = child<QComboBox>(w, setName(page, item));
            QVERIFY(present && set);
            QCOMPARE(present->text(), QStringLiteral("* * * *"));
            QVERIFY(present->isReadOnly());
            QCOMPARE(set->currentText(), QStringLiteral("* * * *"));
            QCOMPARE(set->currentIndex(), -1);
            QVERIFY(set->isEditable());
            QCOMPARE(w.presentValue(page, item), QStringLiteral("* * * *"));
            QCOMPARE(w.setValue(page, item), QStringLiteral("* * * *"));
        }
        // No field beyond the page's items.
        QVERIFY(!w.findChild<QLineEdit *>(presentName(page, itemCount(page))));
    }
    QVERIFY(!w.link().isPortOpen());
}

void TestMainWindow::setValueLists_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    const int commonCounts[] = {2, 2, 2, 2, 2, 2, 128};
    for (int i = 0; i < 6; ++i)
        QTest::addRow("common %d", i)
            << 0 << i << commonCounts[i] << valueList(PageKind::Common, i).first()
            << valueList(PageKind::Common, i).last();
    QTest::newRow("station") << 0 << 6 << 128 << "001"
                             << "128";
    for (int page : {1, 8}) {
        QTest::addRow("circuit %d wiring", page) << page << 0 << 6 << "ﾛｯｸ"
                                                 << "3φ3Dw";
        QTest::addRow("circuit %d insulation", page) << page << 1 << 16 << "ﾛｯｸ"
                                                     << "100(mA)";
        QTest::addRow("circuit %d insulation delay", page) << page << 2 << 5 << "5(秒)"
                                                           << "40(秒)";
        QTest::addRow("circuit %d leakage", page) << page << 3 << 10 << "ﾛｯｸ"
                                                  << "1.0(A)";
        QTest::addRow("circuit %d leakage delay", page) << page << 4 << 12 << "0.3(秒)"
                                                        << "2.0(秒)";
    }
}

void TestMainWindow::setValueLists()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *combo = child<QComboBox>(w, setName(page, item));
    QVERIFY(combo);
    QCOMPARE(combo->count(), count);
    QCOMPARE(combo->itemText(0), first);
    QCOMPARE(combo->itemText(count - 1), last);
    QCOMPARE(entries(combo), valueList(pageKind(page), item));
}

void TestMainWindow::portField()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *port = child<QComboBox>(w, "Combo10");
    QVERIFY(port);
    QCOMPARE(entries(port), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    QCOMPARE(port->currentText(), QStringLiteral("1"));
    QVERIFY(port->isEditable());
    QCOMPARE(port->toolTip(), QStringLiteral("パソコンのRS-232のポートを選択します。"));

    // Typing "1" into an empty field must stay "1", not complete to "10".
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    port->setFocus();
    port->lineEdit()->clear();
    QTest::keyClicks(port->lineEdit(), "1");
    QCOMPARE(port->currentText(), QStringLiteral("1"));
    QTest::keyClicks(port->lineEdit(), "/dev/ttyUSB0");
    QTest::keyClick(port->lineEdit(), Qt::Key_Return);
    QCOMPARE(w.portText(), QStringLiteral("1/dev/ttyUSB0"));
    QCOMPARE(port->count(), 10);
}

void TestMainWindow::portOptionReplacesInitialText()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts, QStringLiteral("/dev/pts/7"));
    QCOMPARE(w.portText(), QStringLiteral("/dev/pts/7"));
    QCOMPARE(child<QComboBox>(w, "Combo10")->count(), 10);
}

void TestMainWindow::tabsAndHeadings()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *tabs = child<QTabWidget>(w, "SSTab1");
    QVERIFY(tabs);
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    QCOMPARE(captions, (QStringList{"共通設定", "回路 1", "回路 2", "回路 3", "回路 4", "回路 5",
                                    "回路 6", "回路 7", "回路 8"}));
    QCOMPARE(tabs->currentIndex(), 0);
    auto *heading = child<QLabel>(w, "Heading0");
    QCOMPARE(heading->text(), QStringLiteral("すべての回路に共通した項目を設定します"));
    QVERIFY(heading->font().underline() && heading->font().bold());
    QCOMPARE(child<QLabel>(w, "Heading8")->text(),
             QStringLiteral("回路８の電気方式・動作感度・動作時限を設定します"));

    // Every tab is inside the control, none scrolled away.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int i = 0; i < tabs->count(); ++i)
        QVERIFY(tabs->tabBar()->rect().contains(tabs->tabBar()->tabRect(i)));
}

void TestMainWindow::pagesUseTheWindowFont()
{
    // Every label, field and button shows the window's Japanese font, on every page: a style
    // sheet on the tabs must not cut the pages off from the window's font.
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    const QString first = w.font().families().value(0);
    QCOMPARE(first, QStringLiteral("ＭＳ ゴシック"));
    auto *tabs = child<QTabWidget>(w, "SSTab1");
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        int checked = 0;
        for (const QWidget *widget : w.findChildren<QWidget *>()) {
            if (widget->window() != &w || !widget->isVisible())
                continue;
            ++checked;
            QVERIFY2(widget->font().families().value(0) == first,
                     qPrintable(widget->objectName() + u' ' + widget->metaObject()->className() +
                                u' ' + widget->font().families().join(u',')));
        }
        QVERIFY(checked > 30);
    }
}

void TestMainWindow::commonRowsInScreenOrder()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    // Item 2 (LED reset) stands above item 1; a value for item 1 lands in the third row.
    const int y0 = child<QLineEdit>(w, "Text9_0")->y();
    const int y1 = child<QLineEdit>(w, "Text9_1")->y();
    const int y2 = child<QLineEdit>(w, "Text9_2")->y();
    QVERIFY(y0 < y2 && y2 < y1);
    QCOMPARE(child<QComboBox>(w, "Combo1_1")->y(), y1);
    QVERIFY(child<QLineEdit>(w, "Text9_1")->accessibleName().startsWith("絶縁監視接点復帰方式"));
    for (int k = 1; k < 5; ++k)
        QVERIFY(child<QLineEdit>(w, presentName(3, k - 1))->y() <
                child<QLineEdit>(w, presentName(3, k))->y());
}

void TestMainWindow::pageButtons_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("common read") << 0 << 0 << "現在設定値取得"
                                 << "共通設定値を取得します。";
    QTest::newRow("common copy") << 0 << 1 << "現在値⇒設定値"
                                 << "現在値を設定値にコピーします。";
    QTest::newRow("common write") << 0 << 2 << "共通設定値書替"
                                  << "共通設定値だけを書き替えます。";
    QTest::newRow("circuit 1 read") << 1 << 0 << "現在設定値取得"
                                    << "回路１の設定値を取得します。";
    QTest::newRow("circuit 5 write") << 5 << 2 << "回路５設定値書替"
                                     << "回路５の設定値だけを書き換えます。";
    QTest::newRow("circuit 8 copy") << 8 << 1 << "現在値⇒設定値"
                                    << "現在値を設定値にコピーします。";
    QTest::newRow("circuit 8 write") << 8 << 2 << "回路８設定値書替"
                                     << "回路８の設定値だけを書き換えます。";
}

void TestMainWindow::pageButtons()
{
    QFETCH(int, page);
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, tooltip);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *button = child<QPushButton>(w, QStringLiteral("Command%1_%2").arg(page + 1).arg(index));
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->toolTip(), tooltip);
    QCOMPARE(button->accessibleName(), caption);
    QVERIFY(!button->isHidden()); // read buttons too, once start-up has run
    // Copy above write above read, between the two columns.
    auto *copy = child<QPushButton>(w, QStringLiteral("Command%1_1").arg(page + 1));
    auto *write = child<QPushButton>(w, QStringLiteral("Command%1_2").arg(page + 1));
    auto *read = child<QPushButton>(w, QStringLiteral("Command%1_0").arg(page + 1));
    QVERIFY(copy->y() < write->y() && write->y() < read->y());
    QVERIFY(child<QLineEdit>(w, presentName(page, 0))->geometry().right() < copy->x());
    QVERIFY(copy->geometry().right() < child<QComboBox>(w, setName(page, 0))->x());
}

void TestMainWindow::topButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("read all") << "Command12"
                              << "全現在設定値取得"
                              << "VELTRAの設定値を取得します。" << 0 << 0;
    QTest::newRow("write all") << "Command13"
                               << "全設定値書替"
                               << "すべての設定値を一度に書き替えます。" << 0 << 1;
    QTest::newRow("exit") << "Command10"
                          << "終了"
                          << "このソフトを終了します。" << 0 << 2;
    QTest::newRow("copy all") << "Command16"
                              << "全現在値⇒設定値"
                              << "すべての現在値を設定値にコピーします。" << 1 << 0;
    QTest::newRow("load") << "Command14"
                          << "既存設定値取得"
                          << "既存の設定ファイルを開きます。" << 1 << 1;
    QTest::newRow("save") << "Command15"
                          << "設定値保存"
                          << "VELTRAの現在値を保存します。" << 1 << 2;
    QTest::newRow("help") << "Command17"
                          << "ヘルプ"
                          << "ヘルプを表示します。" << -1 << -1;
}

void TestMainWindow::topButtons()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, tooltip);
    QFETCH(int, row);
    QFETCH(int, column);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *button = child<QPushButton>(w, name);
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->toolTip(), tooltip);
    if (row < 0)
        return;
    // The grid: same row, same top; same column, same left; 112 x 25 buttons.
    auto *origin = child<QPushButton>(w, "Command12");
    QCOMPARE(button->size(), QSize(112, 25));
    QCOMPARE(button->y() > origin->y(), row == 1);
    QCOMPARE(button->x() > origin->x(), column > 0);
    auto *exit = child<QPushButton>(w, "Command10");
    QCOMPARE(button->x() == exit->x(), column == 2);
}

void TestMainWindow::focusOrder()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QStringList expected{"Combo10",   "Command12", "Command16", "Command13",          "Command14",
                         "Command15", "Command17", "Command10", "qt_tabwidget_tabbar"};
    for (int page = 0; page < kPageCount; ++page) {
        expected << QStringLiteral("Command%1_1").arg(page + 1)
                 << QStringLiteral("Command%1_2").arg(page + 1);
        for (int row = 0; row < itemCount(page); ++row)
            expected << setName(page, itemAtScreenRow(pageKind(page), row));
    }
    for (int page = 0; page < kPageCount; ++page)
        for (int row = 0; row < itemCount(page); ++row)
            expected << presentName(page, itemAtScreenRow(pageKind(page), row));
    for (int page = 0; page < kPageCount; ++page)
        expected << QStringLiteral("Command%1_0").arg(page + 1);

    QStringList chain;
    QWidget *start = child<QComboBox>(w, "Combo10");
    QWidget *current = start;
    do {
        if ((current->focusPolicy() & Qt::TabFocus) && !current->objectName().isEmpty() &&
            !current->focusProxy() && current->window() == &w && !current->isHidden())
            chain << current->objectName();
        current = current->nextInFocusChain();
    } while (current != start && chain.size() < 1000);
    QCOMPARE(chain, expected);
}

void TestMainWindow::accessibleNames()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QCOMPARE(child<QComboBox>(w, "Combo10")->accessibleName(), QStringLiteral("COMポート"));
    QCOMPARE(child<QLineEdit>(w, "Text9_6")->accessibleName(),
             QStringLiteral("伝送局番号設定 現在値"));
    QCOMPARE(child<QComboBox>(w, "Combo1_6")->accessibleName(),
             QStringLiteral("伝送局番号設定 設定値"));
    QCOMPARE(child<QLineEdit>(w, "Text4_3")->accessibleName(),
             QStringLiteral("漏電監視動作感度設定 現在値"));
    QCOMPARE(child<QComboBox>(w, "Combo9_4")->accessibleName(),
             QStringLiteral("漏電監視時限設定 設定値"));
    auto *tabs = child<QTabWidget>(w, "SSTab1");
    for (int i = 0; i < tabs->count(); ++i)
        QCOMPARE(tabs->widget(i)->accessibleName(), tabs->tabText(i));
}

void TestMainWindow::monitorAndClearControlsAreOffTheMainWindow()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ServiceWindow &service = w.serviceWindow();
    QVERIFY(!service.isVisible());
    QCOMPARE(service.findChild<QLineEdit *>("Text10"), service.requestMonitor());
    QVERIFY(service.findChild<QLineEdit *>("Text11"));
    QVERIFY(service.findChild<QLineEdit *>("Text12"));
    QCOMPARE(service.findChild<QLabel *>("Label10_2")->text(), QStringLiteral("局番号="));
    for (int i = 0; i < 2; ++i) {
        auto *option = service.findChild<QRadioButton *>(QStringLiteral("Option1_%1").arg(i));
        QVERIFY(option);
        QVERIFY(!option->isChecked());
        QVERIFY(!w.clearOptionSelected(i));
    }
    QCOMPARE(service.findChild<QRadioButton *>("Option1_0")->text(),
             QStringLiteral("動作値ﾃﾞｰﾀｸﾘｱ"));
    QCOMPARE(service.findChild<QRadioButton *>("Option1_1")->text(),
             QStringLiteral("最大値ﾃﾞｰﾀｸﾘｱ"));
    QCOMPARE(service.findChild<QPushButton *>("Command11")->text(), QStringLiteral("ｸﾘｱ実行"));
    // Nothing of it belongs to the main window.
    QVERIFY(!w.findChild<QLineEdit *>("Text10", Qt::FindDirectChildrenOnly));
    QVERIFY(service.isWindow());
}

void TestMainWindow::serviceWindowShortcut()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY(w.serviceWindow().isVisible());
    // Choosing one clear option drops the other.
    w.serviceWindow().clearOption(0)->click();
    w.serviceWindow().clearOption(1)->click();
    QVERIFY(!w.clearOptionSelected(0));
    QVERIFY(w.clearOptionSelected(1));
    // Beside the main window, not over it nor at the screen's corner; Esc and 閉じる close it.
    QVERIFY(w.serviceWindow().frameGeometry().left() > w.frameGeometry().left());
    QVERIFY(QTest::qWaitForWindowActive(&w.serviceWindow()));
    w.serviceWindow().clearOption(1)->setFocus(); // where the user is
    QTest::keyClick(w.serviceWindow().clearOption(1), Qt::Key_Escape);
    QTRY_VERIFY(!w.serviceWindow().isVisible());
    QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY(w.serviceWindow().isVisible());
    w.serviceWindow().closeButton()->click();
    QVERIFY(!w.serviceWindow().isVisible());
}

void TestMainWindow::monitorOpensBesideTheWindow_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QRect>("room"); // null: no screen known
    QTest::addColumn<QPoint>("placed");
    const QRect screen(0, 0, 1920, 1040);
    QTest::newRow("on the right") << QRect(100, 100, 553, 480) << screen << QPoint(660, 100);
    QTest::newRow("no room on the right")
        << QRect(1300, 100, 553, 480) << screen << QPoint(1519, 100);
    QTest::newRow("kept above the bottom")
        << QRect(100, 900, 553, 480) << screen << QPoint(660, 739);
    QTest::newRow("no screen") << QRect(1300, 900, 553, 480) << QRect() << QPoint(1860, 900);
}

void TestMainWindow::monitorOpensBesideTheWindow()
{
    QFETCH(QRect, frame);
    QFETCH(QRect, room);
    QFETCH(QPoint, placed);
    QCOMPARE(placeBeside(frame, QSize(400, 300),
                         room.isNull() ? std::nullopt : std::optional<QRect>(room)),
             placed);
}

void TestMainWindow::lineNoticeShowsWithTheMonitor_data()
{
    QTest::addColumn<bool>("refusal");
    QTest::addColumn<QString>("shown"); // a pattern: a refusal comes with the time
    QTest::newRow("notice") << false
                            << QRegularExpression::escape(QStringLiteral(
                                   "Wine上で動作しています。このCOMポートは7ビット・偶数パリティに"
                                   "設定できないため、8ビット・パリティなしで通信します。"));
    QTest::newRow("refused")
        << true
        << QStringLiteral(
               "\\d\\d:\\d\\d:\\d\\d ネットワーク経由のポートを使用できません: port in use");
}

void TestMainWindow::lineNoticeShowsWithTheMonitor()
{
    QFETCH(bool, refusal);
    QFETCH(QString, shown);
    ScriptedPrompts prompts;
    SerialPort *line = createSerialPort(nullptr);
    MainWindow w(&prompts, {}, line);
    auto *notice = child<QLabel>(w.serviceWindow(), QStringLiteral("LineNotice"));
    QVERIFY(notice && notice->isHidden());
    if (refusal)
        emit line->refused(QStringLiteral("port in use"));
    else
        emit line->notice({LineNotice::Kind::EightBitsUnderWine, QStringLiteral("COM3")});
    QVERIFY(!notice->isHidden());
    QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(shown)).match(notice->text()).hasMatch(),
             qPrintable(notice->text()));
}

void TestMainWindow::tabKeysWorkFromAnywhere_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("step");
    QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier) << 1;
    QTest::newRow("Ctrl+PgDn") << int(Qt::Key_PageDown) << int(Qt::ControlModifier) << 1;
    QTest::newRow("Ctrl+Shift+Tab")
        << int(Qt::Key_Backtab) << int(Qt::ControlModifier | Qt::ShiftModifier) << -1;
    QTest::newRow("Ctrl+PgUp") << int(Qt::Key_PageUp) << int(Qt::ControlModifier) << -1;
}

void TestMainWindow::tabKeysWorkFromAnywhere()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, step);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *tabs = w.findChild<QTabWidget *>();
    auto *port = child<QComboBox>(w, "Combo10");
    port->setFocus(); // outside the tabs
    for (int expected : {(9 + step) % 9, (9 + 2 * step) % 9}) {
        QTest::keyClick(port, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(tabs->currentIndex(), expected);
    }
}

void TestMainWindow::setValueTakesAnyText()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (const QString &text : {QStringLiteral("60Hz"), QStringLiteral("abc"), QString(),
                                QStringLiteral("ERROR"), QStringLiteral("60Hz ")}) {
        w.setSetValue(0, 0, text);
        QCOMPARE(w.setValue(0, 0), text);
    }
    QCOMPARE(child<QComboBox>(w, "Combo1_0")->count(), 2); // nothing was added to the list
    w.setSetValue(9, 0, "x");
    w.setSetValue(1, 5, "x");
    QCOMPARE(w.setValue(9, 0), QString());
}

void TestMainWindow::messageBoxPosition_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<int>("length");
    QTest::addColumn<QPoint>("position");
    const QRect frame(100, 80, 560, 460);
    const QSize client(553, 416);
    QTest::newRow("18 characters") << frame << client << 18 << QPoint(222, 260);
    QTest::newRow("38 characters") << frame << client << 38 << QPoint(140, 260);
    QTest::newRow("30 characters") << frame << client << 30 << QPoint(150, 260);
    QTest::newRow("31 characters") << frame << client << 31 << QPoint(140, 260);
    QTest::newRow("empty text") << frame << client << 0 << QPoint(330, 260);
    QTest::newRow("half to even, down")
        << QRect(100, 80, 561, 461) << client << 0 << QPoint(330, 260);
    QTest::newRow("half to even, up")
        << QRect(101, 81, 561, 461) << client << 0 << QPoint(332, 262);
    QTest::newRow("moved window") << QRect(-300, 500, 560, 460) << client << 0 << QPoint(-70, 680);
}

void TestMainWindow::messageBoxPosition()
{
    QFETCH(QRect, frame);
    QFETCH(QSize, client);
    QFETCH(int, length);
    QFETCH(QPoint, position);
    const QString text(length, QChar(u'設'));
    QCOMPARE(ComputeMessageBoxPosition(frame, client, text), std::optional<QPoint>(position));
}

void TestMainWindow::realMessageBoxes()
{
    MainWindow w; // real message boxes
    w.move(100, 80);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MessageBoxPrompts prompts(&w);

    const QString confirm = QStringLiteral("共通設定を書き換えます。よろしいですか？");
    QString title, text;
    QPoint position;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    answerNextBox(QMessageBox::Yes, &title, &text, &position, &defaultButton);
    QCOMPARE(prompts.ShowMessage(confirm, kStyleConfirm), kAnswerYes);
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(text, confirm);
    QCOMPARE(defaultButton, QMessageBox::No);
    const auto expected = ComputeMessageBoxPosition(w.frameGeometry(), w.size(), confirm);
    QCOMPARE(position, *expected);

    answerNextBox(QMessageBox::No, &title, &text, &position);
    QCOMPARE(prompts.ShowMessage(confirm, kStyleConfirm), kAnswerNo);

    // The next box is placed by its own length.
    const QString done = QStringLiteral("設定値の書き込みが終了しました。");
    answerNextBox(QMessageBox::Ok, &title, &text, &position);
    QCOMPARE(prompts.ShowMessage(done, kStyleNotice), kAnswerOk);
    QCOMPARE(position, *ComputeMessageBoxPosition(w.frameGeometry(), w.size(), done));
}

void TestMainWindow::qtDialogsSpeakJapanese()
{
    QTranslator *japanese = installQtJapanese();
    QVERIFY2(japanese, "qtbase_ja.qm (qt6-translations-l10n) not found");
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MessageBoxPrompts prompts(&w);
    QStringList buttons;
    QTimer::singleShot(50, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        buttons << box->button(QMessageBox::Yes)->text() << box->button(QMessageBox::No)->text();
        box->button(QMessageBox::No)->click();
    });
    QCOMPARE(prompts.ShowMessage(QStringLiteral("共通設定を書き換えます。よろしいですか？"),
                                 kStyleConfirm),
             kAnswerNo);
    QCOMPARE(buttons, (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));

    // Qt's own file dialog, as Linux shows it.
    QFileDialog dialog(&w);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QCOMPARE(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text(),
             QStringLiteral("キャンセル"));
    QCOMPARE(dialog.labelText(QFileDialog::FileName), QStringLiteral("ファイル名(&N):"));
    QCoreApplication::removeTranslator(japanese);
}

void TestMainWindow::fileDialogsAddTheirSuffix_data()
{
    QTest::addColumn<FileDialog>("dialog");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
#ifdef Q_OS_WIN
    const char *const added = ""; // Qt's dialog there, keeping a typed name as the tool always has
#else
    const char *const added = ".DT";
#endif
    const std::tuple<const char *, FileDialog, const char *, QString> rows[] = {
        {"設定値保存", FileDialog::Save, "relayA", QStringLiteral("relayA") + added},
        {"設定値保存, .dt typed", FileDialog::Save, "relayA.dt", QStringLiteral("relayA.dt")},
        {"設定値保存, another suffix", FileDialog::Save, "relayA.v2", QStringLiteral("relayA.v2")},
        {"編集した設定値を保存", FileDialog::SaveEdited, "relayB",
         QStringLiteral("relayB") + added},
        {"開く: as typed", FileDialog::Open, "relayA", QStringLiteral("relayA")},
        {"PDFに保存", FileDialog::Pdf, "report", QStringLiteral("report.pdf")},
        {"ログを保存", FileDialog::Log, "log", QStringLiteral("log.txt")},
    };
    for (const auto &[row, dialog, typed, chosen] : rows)
        QTest::newRow(row) << dialog << QString::fromUtf8(typed) << chosen;
}

void TestMainWindow::fileDialogsAddTheirSuffix()
{
    // The real dialogs, a name typed into each: what the open dialog's *.DT filter lists.
    QFETCH(FileDialog, dialog);
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QWidget window;
    MessageBoxPrompts prompts(&window);
    QTemporaryDir dir;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &window, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *open = qobject_cast<QFileDialog *>(top);
            if (!open || !open->isVisible())
                continue;
            poll.stop();
            open->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                ->setText(dir.filePath(typed));
            QMetaObject::invokeMethod(open, "accept");
        }
    });
    poll.start(20);
    const std::optional<QString> name =
        dialog == FileDialog::Save         ? prompts.saveFileName()
        : dialog == FileDialog::SaveEdited ? prompts.saveEditedFileName(dir.filePath("old.DT"))
        : dialog == FileDialog::Open       ? prompts.openFileName()
        : dialog == FileDialog::Pdf        ? prompts.savePdfFileName(QStringLiteral("r.pdf"))
                                           : prompts.saveLogFileName(QStringLiteral("l.txt"));
    QCOMPARE(name, std::optional<QString>(dir.filePath(chosen)));
}

void TestMainWindow::messageShowsForMinimisedWindow()
{
    QCOMPARE(ComputeMessageBoxPosition(QRect(0, 0, 0, 0), QSize(0, 0), "x"), std::nullopt);
    QWidget zero;
    zero.resize(0, 0);
    MessageBoxPrompts prompts(&zero);
    QString title, text;
    QPoint position;
    answerNextBox(QMessageBox::Ok, &title, &text, &position);
    QCOMPARE(prompts.ShowMessage(QStringLiteral("通信データエラーです。再実行してください。"),
                                 kStyleNotice),
             kAnswerOk);
    QCOMPARE(text, QStringLiteral("通信データエラーです。再実行してください。"));
}

void TestMainWindow::helpWindowIsSingle()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *help = child<QPushButton>(w, "Command17");
    help->click();
    QPointer<HelpWindow> first = w.helpWindow();
    QVERIFY(first && first->isVisible());
    QCOMPARE(first->windowTitle(), QStringLiteral("VELTRA設定ヘルプ"));
    QVERIFY(!first->isModal());
    help->click();
    QCOMPARE(w.helpWindow(), first.data());
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(),
                           [](QWidget *widget) { return qobject_cast<HelpWindow *>(widget); }),
             1);
    // Closed, it comes back anew with its initial text.
    first->close();
    QTRY_VERIFY(first.isNull());
    help->click();
    QVERIFY(w.helpWindow() && w.helpWindow()->isVisible());
    QVERIFY(w.isVisible()); // the main window stays usable
    // Esc from its text closes it, as a dialog closes.
    QPointer<HelpWindow> second = w.helpWindow();
    QTest::keyClick(second->textField(), Qt::Key_Escape);
    QTRY_VERIFY(second.isNull());
}

void TestMainWindow::exitWithClosedPortEndsQuietly()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QSignalSpy exit(&w, &MainWindow::exitRequested);
    child<QPushButton>(w, "Command10")->click();
    QCOMPARE(exit.count(), 1);
    QVERIFY(prompts.messages.isEmpty()); // no port was open, so no notice
    QVERIFY(!w.isVisible());
}

void TestMainWindow::closeBoxEndsAtOnce()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QSignalSpy exit(&w, &MainWindow::exitRequested);
    QVERIFY(w.close());
    QCOMPARE(exit.count(), 1);
    QVERIFY(prompts.messages.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
