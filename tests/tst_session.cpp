#include "endtoend.h"
#include "operations/commands.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace veltra;
using namespace veltra::test;

// One whole working session as an operator has it, start to exit. scripts/memcheck runs
// this under valgrind.
class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void fullSession();
};

void TestSession::fullSession()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("relay-a.DT"));
    Bench bench;
    QVERIFY(bench.start());
    MainWindow &w = bench.w();

    button(w, "Command12")->click(); // read all
    button(w, "Command16")->click(); // copy all
    w.setSetValue(4, 1, QStringLiteral("60(mA)"));
    bench.prompts.answers.enqueue(kAnswerYes);
    button(w, "Command13")->click(); // write all
    button(w, "Command12")->click(); // read back
    bench.prompts.saveNames << file;
    button(w, "Command15")->click(); // save
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setSetValue(page, item, notLoadedText());
    bench.prompts.openNames << file;
    bench.prompts.answers.enqueue(kAnswerYes);
    button(w, "Command14")->click(); // load
    button(w, "Command17")->click(); // help

    QCOMPARE(
        bench.prompts.texts(),
        (QStringList{"設定値の読み込みが終了しました。",
                     "VELTRAの共通設定とすべての回路の設定を一度に書き換えます。よろしいですか？",
                     "設定値の書き込みが終了しました。", "設定値の読み込みが終了しました。",
                     QDir::toNativeSeparators(file) + "\nのVELTRA設定ファイルを読み込みます。",
                     "設定値が読み込まれました。"}));
    QCOMPARE(w.presentValue(4, 1), QStringLiteral("60(mA)"));
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(setTexts(w, page), presentTexts(w, page));

    QSignalSpy exit(&w, &MainWindow::exitRequested);
    button(w, "Command10")->click(); // exit
    QCOMPARE(exit.count(), 1);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
