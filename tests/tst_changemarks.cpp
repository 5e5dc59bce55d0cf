#include "endtoend.h"
#include "operations/commands.h"
#include "operations/messages.h"
#include "settings/changes.h"
#include "ui/changemarks.h"

#include <QFile>
#include <QTemporaryDir>

using namespace veltra;
using namespace veltra::test;

// Marks of pending changes and unwritable values, on the real window.
namespace {

QComboBox *setField(MainWindow &w, int page, int item)
{
    const QString name = page == kCommonPage ? QStringLiteral("Combo1_%1").arg(item)
                                             : QStringLiteral("Combo%1_%2").arg(page + 1).arg(item);
    return w.findChild<QComboBox *>(name);
}

DottedTabBar *tabBar(MainWindow &w)
{
    return w.findChild<DottedTabWidget *>(QStringLiteral("SSTab1"))->dottedTabBar();
}

// Every field of every page as a relay would have it, both columns equal.
void fillEqual(MainWindow &w)
{
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item) {
            const QString text = textOfCode(pageKind(page), item, 1);
            w.setPresentValue(page, item, text);
            w.setSetValue(page, item, text);
        }
}

} // namespace

class TestChangeMarks : public QObject
{
    Q_OBJECT
private slots:
    void fieldStates_data();
    void fieldStates();
    void startUpShowsNoMarks();
    void marksFollowEditsAtOnce();
    void pendingLooksAndReads();
    void copyAndLoadClearOrSetMarks();
};

void TestChangeMarks::fieldStates_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("set");
    QTest::addColumn<bool>("othersChosen"); // the page's other set values hold values
    QTest::addColumn<int>("mark");
    QTest::addColumn<QString>("explanation"); // a part of it; rows without a mark have none
    const int none = int(FieldMark::None), pending = int(FieldMark::Pending),
              warning = int(FieldMark::Warning);
    QTest::newRow("equal") << 3 << 1 << "30(mA)"
                           << "30(mA)" << true << none << "";
    QTest::newRow("changed") << 3 << 1 << "45(mA)"
                             << "50(mA)" << true << pending
                             << "書込で 45(mA) → 50(mA) に変わります。";
    QTest::newRow("nothing read yet") << 3 << 1 << "* * * *"
                                      << "50(mA)" << true << none << "";
    QTest::newRow("read ERROR: no real value to change") << 0 << 0 << "ERROR"
                                                         << "60Hz" << true << none << "";
    QTest::newRow("not chosen, page untouched") << 3 << 1 << "45(mA)"
                                                << "* * * *" << false << none << "";
    QTest::newRow("not chosen, page partly chosen")
        << 3 << 1 << "45(mA)"
        << "* * * *" << true << warning << "書き込みできません";
    QTest::newRow("set ERROR") << 3 << 1 << "45(mA)"
                               << "ERROR" << false << warning << "書き込みできません";
    QTest::newRow("empty") << 3 << 4 << "0.3(秒)"
                           << "" << true << warning << "空欄";
    QTest::newRow("typed, not listed")
        << 3 << 1 << "45(mA)"
        << "47(mA)" << true << warning << "一覧にない値です。書き込みできません";
    QTest::newRow("a value of another item") << 3 << 1 << "45(mA)"
                                             << "0.3(秒)" << true << warning << "一覧にない値";
    QTest::newRow("trailing blank") << 0 << 0 << "60Hz"
                                    << "60Hz " << true << warning << "一覧にない値";
    QTest::newRow("leakage 1.5(A), beyond the list but written as code 14")
        << 3 << 3 << "1.0(A)"
        << "1.5(A)" << true << pending << "1.0(A) → 1.5(A)";
    QTest::newRow("station typed 000") << 0 << 6 << "012"
                                       << "000" << true << pending << "012 → 000";
    QTest::newRow("station 256") << 0 << 6 << "012"
                                 << "256" << true << warning << "000～255";
    QTest::newRow("station 12 is 012") << 0 << 6 << "012"
                                       << "12" << true << none << "";
    QTest::newRow("station letters") << 0 << 6 << "012"
                                     << "0C" << true << warning << "000～255";
}

void TestChangeMarks::fieldStates()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, present);
    QFETCH(QString, set);
    QFETCH(bool, othersChosen);
    QFETCH(int, mark);
    QFETCH(QString, explanation);
    QStringList presents, sets;
    for (int i = 0; i < itemCount(page); ++i) {
        const QString value = textOfCode(pageKind(page), i, 1);
        presents << (i == item ? present : value);
        sets << (i == item ? set : othersChosen ? value : notLoadedText());
    }
    const FieldState state = pageStates(page, presents, sets).at(item);
    QCOMPARE(int(state.mark), mark);
    const QString said = messages::fieldExplanation(state, presents[item], sets[item]);
    if (mark == int(FieldMark::None))
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(explanation), qPrintable(said));
}

void TestChangeMarks::startUpShowsNoMarks()
{
    // Nothing chosen is nothing to fix yet: no red before the user has done anything.
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (int page = 0; page < kPageCount; ++page) {
        QCOMPARE(w.changeMarks().pageMark(page), FieldMark::None);
        QVERIFY(!tabBar(w)->dot(page).isValid());
    }
    // One choice makes the page's other fields the ones a write would refuse.
    w.setSetValue(3, 1, QStringLiteral("50(mA)"));
    QCOMPARE(w.changeMarks().mark(3, 1), FieldMark::None);
    QCOMPARE(w.changeMarks().mark(3, 0), FieldMark::Warning);
    QCOMPARE(tabBar(w)->dot(3), ChangeMarks::warningDotColor());
    QVERIFY(!tabBar(w)->dot(2).isValid());
    QCOMPARE(tabBar(w)->tabText(3), QStringLiteral("回路 3"));
    w.setSetValue(3, 1, notLoadedText());
    QVERIFY(!tabBar(w)->dot(3).isValid());
}

void TestChangeMarks::marksFollowEditsAtOnce()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    fillEqual(w);
    QComboBox *field = setField(w, 4, 3);
    const QString present = w.presentValue(4, 3);

    // Choosing another entry from the list.
    field->setCurrentIndex(field->findText(textOfCode(PageKind::Circuit, 3, 4)));
    QCOMPARE(w.changeMarks().mark(4, 3), FieldMark::Pending);
    QCOMPARE(tabBar(w)->dot(4), ChangeMarks::pendingDotColor());
    QVERIFY(!tabBar(w)->dot(3).isValid());

    // Typing: every keystroke counts.
    field->lineEdit()->selectAll();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("9.9(A)"));
    QCOMPARE(field->currentText(), QStringLiteral("9.9(A)"));
    QCOMPARE(w.changeMarks().mark(4, 3), FieldMark::Warning);
    QCOMPARE(tabBar(w)->dot(4), ChangeMarks::warningDotColor());
    QVERIFY(field->toolTip().contains(QStringLiteral("書き込みできません")));

    // Back to the present value: nothing left to show.
    field->lineEdit()->selectAll();
    QTest::keyClicks(field->lineEdit(), present);
    QCOMPARE(w.changeMarks().mark(4, 3), FieldMark::None);
    QVERIFY(!tabBar(w)->dot(4).isValid());
    QVERIFY(field->toolTip().isEmpty());
    QVERIFY(field->accessibleDescription().isEmpty());

    // A change of the present value alone marks the row too.
    w.setPresentValue(4, 3, textOfCode(PageKind::Circuit, 3, 7));
    QCOMPARE(w.changeMarks().mark(4, 3), FieldMark::Pending);
}

void TestChangeMarks::pendingLooksAndReads()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    fillEqual(w);
    QComboBox *pending = setField(w, 3, 1);
    QComboBox *warned = setField(w, 3, 2);
    QComboBox *plain = setField(w, 3, 0);
    w.setPresentValue(3, 1, QStringLiteral("45(mA)"));
    w.setSetValue(3, 1, QStringLiteral("50(mA)"));
    w.setSetValue(3, 2, QStringLiteral("ERROR"));

    const QString tip = QStringLiteral("書込で 45(mA) → 50(mA) に変わります。");
    QCOMPARE(pending->toolTip(), tip);
    QCOMPARE(pending->accessibleDescription(), tip); // what a screen reader says
    QVERIFY(pending->lineEdit()->font().bold());
    QVERIFY(!plain->lineEdit()->font().bold());
    QVERIFY(pending->lineEdit()->palette().color(QPalette::Base) !=
            plain->lineEdit()->palette().color(QPalette::Base));
    QCOMPARE(warned->lineEdit()->palette().color(QPalette::Text), QColor(192, 0, 0));
    QVERIFY(!warned->lineEdit()->font().bold());
    QVERIFY(!warned->accessibleDescription().isEmpty());
    // The mark keeps the window's font family.
    QCOMPARE(pending->lineEdit()->font().families().value(0), QStringLiteral("ＭＳ ゴシック"));
    QCOMPARE(tabBar(w)->tabToolTip(3), QStringLiteral("書き込みできない値があります。"));

    // Cleared, the field looks as its neighbours again.
    w.setSetValue(3, 1, QStringLiteral("45(mA)"));
    QVERIFY(!pending->lineEdit()->font().bold());
    QCOMPARE(pending->lineEdit()->palette().color(QPalette::Base),
             plain->lineEdit()->palette().color(QPalette::Base));
}

void TestChangeMarks::copyAndLoadClearOrSetMarks()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setPresentValue(page, item, textOfCode(pageKind(page), item, 0));
    button(w, QStringLiteral("Command16"))->click(); // copy all
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(w.changeMarks().pageMark(page), FieldMark::None);

    // A file with other values: every differing row is pending at once.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("other.DT"));
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setPresentValue(page, item, textOfCode(pageKind(page), item, 1));
    prompts.saveNames << path;
    button(w, QStringLiteral("Command15"))->click(); // save the present values
    QVERIFY(QFile::exists(path));
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setPresentValue(page, item, textOfCode(pageKind(page), item, 0));
    prompts.openNames << path;
    prompts.answers.enqueue(kAnswerYes);
    button(w, QStringLiteral("Command14"))->click(); // load
    QCOMPARE(prompts.texts().constLast(), QStringLiteral("設定値が読み込まれました。"));
    for (int page = 0; page < kPageCount; ++page) {
        QCOMPARE(w.changeMarks().pageMark(page), FieldMark::Pending);
        QCOMPARE(tabBar(w)->dot(page), ChangeMarks::pendingDotColor());
    }
}

QTEST_MAIN(TestChangeMarks)
#include "tst_changemarks.moc"
