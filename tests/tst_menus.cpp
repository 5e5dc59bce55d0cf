#include "endtoend.h"
#include "expectedtexts.h"
#include "operations/commands.h"
#include "version.h"

#include <QAction>
#include <QCheckBox>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>

using namespace veltra;
using namespace veltra::test;

// The menu bar: its items and their shortcuts (tst_write runs commands through them against
// the relay).
namespace {

QAction *action(MainWindow &w, const QString &name)
{
    auto *found = w.findChild<QAction *>(name);
    if (!found)
        qFatal("no action %s", qPrintable(name));
    return found;
}

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT
private slots:
    void writeAllHasNoShortcut();
    void shortcutsAreDistinct();
    void menusInOrder();
    void verifyItemAndServiceOptionAreOne();
    void openSaveAndQuit();
    void aboutTellsVersionLicenseQtAndDate();
};

void TestMenus::writeAllHasNoShortcut()
{
    // A write is never one stray key away.
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QVERIFY(action(w, "ActionWriteAll")->shortcut().isEmpty());
}

void TestMenus::shortcutsAreDistinct()
{
    // Two items on one key would leave the key doing nothing at all.
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QHash<QKeySequence, QString> owner;
    for (QAction *item : w.findChildren<QAction *>()) {
        if (item->shortcut().isEmpty())
            continue;
        QVERIFY2(!owner.contains(item->shortcut()),
                 qPrintable(item->objectName() + u' ' + owner.value(item->shortcut())));
        owner.insert(item->shortcut(), item->objectName());
    }
    QVERIFY(owner.size() >= 7); // the items were found at all
}

void TestMenus::menusInOrder()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QStringList titles;
    for (QAction *top : w.menuBar()->actions())
        titles << top->text();
    QCOMPARE(titles, (QStringList{"ファイル(&F)", "通信(&C)", "ヘルプ(&H)"}));
    // Above the classic area, which keeps its size.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.menuBar()->geometry().bottom() + 1, w.centralWidget()->geometry().top());
    QCOMPARE(w.centralWidget()->size(), QSize(553, 416));
    QCOMPARE(w.height(), w.centralWidget()->geometry().bottom() + 1 + w.statusBar()->height());
}

void TestMenus::verifyItemAndServiceOptionAreOne()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QAction *item = action(w, "ActionVerify");
    QCheckBox *option = w.serviceWindow().verifyOption();
    QVERIFY(!item->isChecked() && !option->isChecked()); // off at every start
    item->trigger();
    QVERIFY(option->isChecked() && w.commands().verifyAfterWrite());
    option->click();
    QVERIFY(!item->isChecked() && !w.commands().verifyAfterWrite());
}

void TestMenus::openSaveAndQuit()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.DT"));
    // Saving refuses until values were read, as the button does.
    prompts.saveNames << path;
    action(w, "ActionSave")->trigger();
    QCOMPARE(
        prompts.texts(),
        QStringList{QStringLiteral(
            "VELTRAの現在値が読み込まれていないか、正常値ではありません。保存を中止します。")});
    prompts.clear();
    prompts.openNames << path;
    action(w, "ActionOpen")->trigger(); // answered No
    QCOMPARE(prompts.texts(), QStringList{QDir::toNativeSeparators(path) + u'\n' +
                                          QStringLiteral("のVELTRA設定ファイルを読み込みます。")});
    QSignalSpy exit(&w, &MainWindow::exitRequested);
    action(w, "ActionQuit")->trigger();
    QCOMPARE(exit.count(), 1);
}

void TestMenus::aboutTellsVersionLicenseQtAndDate()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    action(w, "ActionAbout")->trigger();
    QCOMPARE(prompts.abouts.size(), 1);
    const QString about = prompts.abouts.constFirst();
    QVERIFY(about.contains(QStringLiteral("VELTRA 設定ソフト Ver." VELTRA_VERSION_SHORT)));
    QVERIFY(about.contains(QStringLiteral("バージョン " VELTRA_VERSION)));
    QVERIFY(about.contains(QStringLiteral("MITライセンス")));
    QVERIFY(about.contains(QStringLiteral("Qt %1").arg(QLatin1String(QT_VERSION_STR))));
    QVERIFY(QRegularExpression(QStringLiteral("ビルド日 \\d{4}-\\d\\d-\\d\\d"))
                .match(about)
                .hasMatch());
    QVERIFY(prompts.messages.isEmpty());
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
