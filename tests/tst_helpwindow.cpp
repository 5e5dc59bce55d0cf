#include "operations/messages.h"
#include "scriptedprompts.h"
#include "settings/items.h"
#include "ui/helpwindow.h"
#include "ui/mainwindow.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>

using veltra::HelpWindow;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QStringList helpLines()
{
    return HelpWindow::helpText().split(kCrLf);
}

// The indent before a line's content: a half-width space and full-width spaces, or nothing
// for the two-digit step numbers.
bool isIndent(const QString &prefix)
{
    static const QRegularExpression indent(QStringLiteral("^( \u3000*)?$"));
    return indent.match(prefix).hasMatch();
}

QString ruler(int length)
{
    return QLatin1Char(' ') + QString(length, QLatin1Char('='));
}

// The two tabs' fields by object name, with the stored text each shows line by line.
QPlainTextEdit *field(const HelpWindow &window, const QString &name)
{
    return name == QLatin1String("Text1") ? window.textField() : window.additionsField();
}

QStringList storedLines(const QString &name)
{
    return name == QLatin1String("Text1") ? helpLines() : HelpWindow::additionsText().split(u'\n');
}

void addFieldRows()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("classic") << QStringLiteral("Text1");
    QTest::newRow("additions") << QStringLiteral("Text2");
}

} // namespace

class TestHelpWindow : public QObject
{
    Q_OBJECT

private slots:
    void textIsCrLfLinesEndingInAnEmptyLine();
    void quotedLinesAreVerbatim_data();
    void quotedLinesAreVerbatim();
    void quotedFragmentsAppear_data();
    void quotedFragmentsAppear();
    void rulersFrameTheSectionsInOrder_data();
    void rulersFrameTheSectionsInOrder();
    void everyRulerHasAKnownLength();
    void stepsAreNumberedInOrder_data();
    void stepsAreNumberedInOrder();
    void linesAreIndentedWithOneHalfWidthSpace();
    void namesNoMakerOrOtherProduct_data();
    void namesNoMakerOrOtherProduct();
    void latinWordsAreOnlyKnownOnes();
    void carriesNoMergeLeftovers();

    void windowIsTheHelpForm();
    void textFieldShowsEveryLineAsItsOwnBlock_data() { addFieldRows(); }
    void textFieldShowsEveryLineAsItsOwnBlock();
    void textFieldIsReadOnly_data() { addFieldRows(); }
    void textFieldIsReadOnly();
    void longestLineIsReachedByScrollingSideways_data() { addFieldRows(); }
    void longestLineIsReachedByScrollingSideways();
    void closingDeletesTheWindow();

    void additionsNameEveryMenuItemWithItsKeys();
    void additionsQuoteTheToolsOwnTexts();
};

void TestHelpWindow::textIsCrLfLinesEndingInAnEmptyLine()
{
    const QString text = HelpWindow::helpText();
    QVERIFY(text.endsWith(kCrLf));
    QVERIFY(!text.endsWith(kCrLf + kCrLf));
    QVERIFY(!text.startsWith(QChar(0xFEFF)));
    const QStringList lines = text.split(kCrLf);
    QCOMPARE(lines.size(), 151);
    QVERIFY(lines.last().isEmpty());
    for (const QString &line : lines) {
        QVERIFY2(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')),
                 qPrintable(line));
        QVERIFY2(!line.contains(QLatin1Char('\t')), qPrintable(line));
        QVERIFY2(!line.contains(QChar::ReplacementCharacter), qPrintable(line));
    }
}

void TestHelpWindow::quotedLinesAreVerbatim_data()
{
    QTest::addColumn<QString>("content");
    const char *const lines[] = {
        " 　VELTRA設定ヘルプ",
        " 　このソフトウエアは",
        "本ソフトウエア単独では使用できません。",
        "必ず、VELTRA本体とパソコンをRS-232ケーブルで接続してご使用ください。",
        " 　[注意]",
        " 　動作環境",
        // What the tool runs on, and the repository's license, as they really are.
        "Windows 10,Windows 11(64ビット版) および Linux",
        "・本ソフトウエアはMITライセンスです。営利・非営利を問わず、著作権表示と本許諾表示を残す限"
        "り"
        "、自由に使用、変更、再配布することができます。",
        " 　接続方法",
        "１．VELTRA本体とパソコンをRS-232ケーブルで接続します。",
        "RS-232ケーブルは、９ピン(D-SUB)ストレートケーブルをご使用ください。",
        "２．本ソフトを起動します。",
        "起動直後は、現在値欄、設定値欄ともに\"* * * *\"が表示されます。",
        "３．パソコンのＣＯＭポート番号を設定します。",
        "COM2のときは、\"２\"を選択してください。",
        "４．VELTRAとパソコンの接続を確認するため、VELTRAの現在の設定値を取得します。",
        " 　使用方法",
        "ファイル名の拡張子は、基本的には何でも良いのですが他のファイルと",
        "区別が付くように、一応\".DT\"としています。",
        "各設定値は、▼印をピックして表示される値から選択してください。表示される文",
        "字以外の値は受け付けません。",
        " 　コマンド説明",
        "１．[COMﾎﾟｰﾄ]",
        "２．[現在設定値取得]",
        "３．[全設定値書替]",
        "４．[終了]",
        "５．[全現在値⇒設定値]",
        "６．[既存設定値取得]",
        "７．[設定値保存]",
        "８．[ヘルプ]",
        "９．[現在値⇒設定値](タブ内のコマンド)",
        "１０．[共通設定値書替](共通設定タブ内のコマンド)",
        "１１．[回路＊設定値書替](各回路タブ内のコマンド)",
        "＊は回路番号で１～８を示します。",
        "１２．設定値欄",
    };
    for (const char *line : lines)
        QTest::newRow(line) << QString::fromUtf8(line);
}

void TestHelpWindow::quotedLinesAreVerbatim()
{
    QFETCH(QString, content);
    const QStringList lines = helpLines();
    const bool found = std::any_of(lines.begin(), lines.end(), [&](const QString &line) {
        return line.endsWith(content) && isIndent(line.first(line.size() - content.size()));
    });
    QVERIFY2(found, qPrintable(content));
}

void TestHelpWindow::quotedFragmentsAppear_data()
{
    QTest::addColumn<QString>("fragment");
    const char *const fragments[] = {
        "ｽﾀｰﾄﾒﾆｭｰ",
        "通信ポート(COM1)",
        "USB-Sirial Comm Port(COM2)",
        "\"１\"",
        "[現在設定値取得]",
        "通信回線が繋がりません。COMポートかケーブルの接続を確認してください｡ ",
        "[FUNC]",
        "[全現在値⇒設定値]",
        "▼印",
        "[共通設定値書替]",
        "[回路１設定値書替]",
        "[全設定値書替]",
        "[設定値保存]",
        "[既存設定を開く]",
        "Ver.2.1",
    };
    for (const char *fragment : fragments)
        QTest::newRow(fragment) << QString::fromUtf8(fragment);
}

void TestHelpWindow::quotedFragmentsAppear()
{
    QFETCH(QString, fragment);
    QVERIFY2(HelpWindow::helpText().contains(fragment), qPrintable(fragment));
}

void TestHelpWindow::rulersFrameTheSectionsInOrder_data()
{
    QTest::addColumn<QString>("heading");
    QTest::addColumn<int>("rulerLength");
    QTest::newRow("title") << QStringLiteral(" 　VELTRA設定ヘルプ") << 20;
    QTest::newRow("connection") << QStringLiteral(" 　接続方法") << 12;
    QTest::newRow("usage") << QStringLiteral(" 　使用方法") << 12;
    QTest::newRow("commands") << QStringLiteral(" 　コマンド説明") << 16;
}

void TestHelpWindow::rulersFrameTheSectionsInOrder()
{
    QFETCH(QString, heading);
    QFETCH(int, rulerLength);
    const QStringList lines = helpLines();
    QCOMPARE(lines.count(heading), 1);
    const qsizetype at = lines.indexOf(heading);
    QVERIFY(at > 0 && at + 1 < lines.size());
    QCOMPARE(lines.at(at - 1), ruler(rulerLength));
    QCOMPARE(lines.at(at + 1), ruler(rulerLength));

    // Title, then connection, usage and commands, then the closing notice.
    static const QStringList order = {QStringLiteral(" 　VELTRA設定ヘルプ"),
                                      QStringLiteral(" 　接続方法"), QStringLiteral(" 　使用方法"),
                                      QStringLiteral(" 　コマンド説明")};
    const qsizetype rank = order.indexOf(heading);
    if (rank + 1 < order.size())
        QVERIFY(at < lines.indexOf(order.at(rank + 1)));
    else
        QVERIFY(at < lines.indexOf(ruler(78)));
}

void TestHelpWindow::everyRulerHasAKnownLength()
{
    static const QRegularExpression anyRuler(QStringLiteral("^ =+$"));
    QList<int> lengths;
    const QStringList lines = helpLines();
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('=')))
            QVERIFY2(anyRuler.match(line).hasMatch(), qPrintable(line));
        if (anyRuler.match(line).hasMatch())
            lengths << int(line.size() - 1);
    }
    // The closing section: a framed heading, its notice lines and a last ruler before the
    // date line.
    QCOMPARE(lengths, (QList<int>{20, 20, 12, 12, 12, 12, 16, 16, 78, 78, 78}));
    const qsizetype lastRuler = lines.lastIndexOf(ruler(78));
    QCOMPARE(lastRuler, lines.size() - 3);
    QVERIFY(lines.at(lastRuler + 1).contains(QStringLiteral("Ver.2.1")));
}

void TestHelpWindow::stepsAreNumberedInOrder_data()
{
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("nextHeading");
    QTest::addColumn<int>("steps");
    QTest::newRow("connection") << QStringLiteral(" 　接続方法") << QStringLiteral(" 　使用方法")
                                << 4;
    QTest::newRow("usage") << QStringLiteral(" 　使用方法") << QStringLiteral(" 　コマンド説明")
                           << 7;
    QTest::newRow("commands") << QStringLiteral(" 　コマンド説明") << ruler(78) << 12;
}

void TestHelpWindow::stepsAreNumberedInOrder()
{
    QFETCH(QString, heading);
    QFETCH(QString, nextHeading);
    QFETCH(int, steps);
    static const QRegularExpression step(QStringLiteral("^( ?)([０-９]+)．"));
    const QStringList lines = helpLines();
    const qsizetype from = lines.indexOf(heading);
    const qsizetype to = lines.indexOf(nextHeading);
    QVERIFY(from >= 0 && to > from);

    int expected = 1;
    for (qsizetype i = from + 1; i < to; ++i) {
        const QRegularExpressionMatch match = step.match(lines.at(i));
        if (!match.hasMatch())
            continue;
        int number = 0;
        for (const QChar digit : match.captured(2))
            number = number * 10 + (digit.unicode() - u'０');
        QCOMPARE(number, expected);
        // One-digit steps keep the leading space; two-digit ones start the line.
        QCOMPARE(match.captured(1).isEmpty(), number >= 10);
        ++expected;
    }
    QCOMPARE(expected - 1, steps);
}

void TestHelpWindow::linesAreIndentedWithOneHalfWidthSpace()
{
    static const QRegularExpression twoDigitStep(QStringLiteral("^[１-９][０-９]．"));
    const QStringList lines = helpLines();
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        if (twoDigitStep.match(line).hasMatch())
            continue;
        QVERIFY2(line.startsWith(QLatin1Char(' ')), qPrintable(line));
        QVERIFY2(line.size() > 1 && line.at(1) != QLatin1Char(' '), qPrintable(line));
    }
}

void TestHelpWindow::namesNoMakerOrOtherProduct_data()
{
    QTest::addColumn<QString>("word");
    const char *const words[] = {"株式会社", "有限会社",    "(株)",     "（株）", "㈱",
                                 "製作所",   "Corporation", "Corp.",    "Inc.",   "Ltd",
                                 "Co.,",     "GmbH",        "登録商標", "©"};
    for (const char *word : words)
        QTest::newRow(word) << QString::fromUtf8(word);
}

void TestHelpWindow::namesNoMakerOrOtherProduct()
{
    QFETCH(QString, word);
    QVERIFY(!HelpWindow::helpText().contains(word, Qt::CaseInsensitive));
}

void TestHelpWindow::latinWordsAreOnlyKnownOnes()
{
    // Any other Latin-letter word would be a name the text is not meant to carry.
    static const QSet<QString> known = {
        QStringLiteral("VELTRA"), QStringLiteral("RS"),      QStringLiteral("D"),
        QStringLiteral("SUB"),    QStringLiteral("COM"),     QStringLiteral("ＣＯＭ"),
        QStringLiteral("USB"),    QStringLiteral("Sirial"),  QStringLiteral("Comm"),
        QStringLiteral("Port"),   QStringLiteral("LPT"),     QStringLiteral("FUNC"),
        QStringLiteral("AC"),     QStringLiteral("V"),       QStringLiteral("DT"),
        QStringLiteral("Ver"),    QStringLiteral("Windows"), QStringLiteral("XP"),
        QStringLiteral("Linux"),  QStringLiteral("MIT")};
    static const QRegularExpression word(QStringLiteral("[A-Za-zＡ-Ｚａ-ｚ]+"));
    auto it = word.globalMatch(HelpWindow::helpText());
    while (it.hasNext()) {
        const QString w = it.next().captured();
        QVERIFY2(known.contains(w), qPrintable(w));
    }
}

void TestHelpWindow::carriesNoMergeLeftovers()
{
    // A merge's conflict markers once shipped in the additions tab.
    static const QRegularExpression marker(QStringLiteral("^(<{7}|={7}|>{7})( |$)"),
                                           QRegularExpression::MultilineOption);
    QVERIFY(!marker.match(HelpWindow::helpText()).hasMatch());
    QVERIFY(!marker.match(HelpWindow::additionsText()).hasMatch());
}

void TestHelpWindow::windowIsTheHelpForm()
{
    HelpWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("Form2"));
    QCOMPARE(window.windowTitle(), QStringLiteral("VELTRA設定ヘルプ"));
    QVERIFY(window.isWindow());
    QCOMPARE(window.windowModality(), Qt::NonModal);
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(window.testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(window.size(), QSize(609, 435));

    // The classic text first, unchanged; what was added since on the second tab.
    QTabWidget *tabs = window.tabs();
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("基本機能"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("追加機能"));
    QCOMPARE(tabs->widget(1), window.additionsField());
    QCOMPARE(window.additionsField()->accessibleName(), QStringLiteral("追加機能"));

    auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
    QVERIFY(text);
    QCOMPARE(text, window.textField());
    QCOMPARE(text->accessibleName(), QStringLiteral("ヘルプ"));
    QCOMPARE(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(text->font().families().value(0), QStringLiteral("ＭＳ ゴシック"));
    QVERIFY(text->font().families().contains(QStringLiteral("Noto Sans Mono CJK JP")));
    QCOMPARE(text->font().pointSizeF(), 9.75);
    QCOMPARE(text->font().weight(), QFont::Normal);
    QVERIFY(!text->font().italic());

    QCOMPARE(tabs->widget(0), text);
    QCOMPARE(window.additionsField()->font(), text->font());

    // Each text fills the window under the tabs.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(tabs->geometry(), window.rect());
    QCOMPARE(text->geometry(), text->parentWidget()->rect());
}

void TestHelpWindow::textFieldShowsEveryLineAsItsOwnBlock()
{
    QFETCH(QString, name);
    HelpWindow window;
    const QTextDocument *document = field(window, name)->document();
    const QStringList lines = storedLines(name);
    QCOMPARE(document->blockCount(), lines.size());
    QTextBlock block = document->begin();
    for (const QString &line : lines) {
        QVERIFY(block.isValid());
        QCOMPARE(block.text(), line);
        block = block.next();
    }
    QVERIFY(document->lastBlock().text().isEmpty());
}

void TestHelpWindow::textFieldIsReadOnly()
{
    QFETCH(QString, name);
    HelpWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPlainTextEdit *text = field(window, name);
    window.tabs()->setCurrentWidget(text);
    QVERIFY(text->isReadOnly());
    const QString before = text->toPlainText();
    text->setFocus();
    QTest::keyClicks(text, QStringLiteral("abc"));
    QTest::keyClick(text, Qt::Key_Delete);
    QTest::keyClick(text, Qt::Key_Return);
    QCOMPARE(text->toPlainText(), before);
    // The keyboard still moves through the text.
    QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByKeyboard);
}

void TestHelpWindow::longestLineIsReachedByScrollingSideways()
{
    QFETCH(QString, name);
    HelpWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPlainTextEdit *text = field(window, name);
    window.tabs()->setCurrentWidget(text);
    QScrollBar *horizontal = text->horizontalScrollBar();
    QVERIFY(text->horizontalScrollBar()->isVisible());
    QVERIFY(text->verticalScrollBar()->isVisible());

    // Opens at the top left.
    QCOMPARE(horizontal->value(), 0);
    QCOMPARE(text->verticalScrollBar()->value(), 0);

    const QFontMetrics metrics(text->font());
    int widest = 0;
    for (const QString &line : storedLines(name))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // The classic text has lines wider than the window; the additions may fit it.
    if (name == QLatin1String("Text1")) {
        QVERIFY2(widest > text->viewport()->width(), "no line is wider than the text field");
        QVERIFY(horizontal->maximum() > 0);
    }
    QVERIFY(horizontal->maximum() + text->viewport()->width() >= widest);

    // No line is wrapped onto a second row.
    QAbstractTextDocumentLayout *layout = text->document()->documentLayout();
    for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
        layout->blockBoundingRect(block); // lays out blocks not yet scrolled into view
        QVERIFY2(block.layout()->lineCount() == 1, qPrintable(block.text()));
    }
}

void TestHelpWindow::closingDeletesTheWindow()
{
    QPointer<HelpWindow> window = new HelpWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->textField()->verticalScrollBar()->setValue(50);
    QVERIFY(window->close());
    QTRY_VERIFY(window.isNull());

    // A new window starts with the whole text again, scrolled to the top.
    HelpWindow again;
    QCOMPARE(again.textField()->document()->blockCount(), 151);
    QCOMPARE(again.textField()->verticalScrollBar()->value(), 0);
}

void TestHelpWindow::additionsNameEveryMenuItemWithItsKeys()
{
    // The second tab lists the menus; a renamed item or a changed key would have the help
    // tell the user of something the window does not do.
    veltra::test::ScriptedPrompts prompts;
    veltra::MainWindow w(&prompts);
    const QStringList lines = HelpWindow::additionsText().split(u'\n');
    static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)$"));
    static const QRegularExpression anyKey(QStringLiteral("^(Ctrl|Shift|Alt|F\\d)"));
    int items = 0;
    for (const QAction *title : w.menuBar()->actions()) {
        const QString menu = title->text().remove(mnemonic);
        QVERIFY2(lines.contains(QStringLiteral(" \u3000[%1]").arg(menu)), qPrintable(menu));
        for (const QAction *item : title->menu()->actions()) {
            if (item->isSeparator())
                continue;
            // " 　　NAME", then the keys (if any) after two spaces or more.
            const QRegularExpression row(QStringLiteral("^ \u3000\u3000%1(?: {2,}(.*))?$")
                                             .arg(QRegularExpression::escape(item->text())));
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const QString &l) {
                return row.match(l).hasMatch();
            });
            QVERIFY2(line != lines.end(), qPrintable(item->text()));
            const QString rest = row.match(*line).captured(1);
            const QString keys = item->shortcut().toString(QKeySequence::PortableText);
            if (keys.isEmpty())
                QVERIFY2(!anyKey.match(rest).hasMatch(), qPrintable(*line));
            else
                QVERIFY2(rest.startsWith(keys + u' ') || rest == keys, qPrintable(*line));
            ++items;
        }
    }
    QVERIFY(items >= 12);
}

void TestHelpWindow::additionsQuoteTheToolsOwnTexts()
{
    // Texts the tool itself shows, taken from where the tool takes them: a pending change's
    // tooltip, and the message of a write that was verified.
    veltra::test::ScriptedPrompts prompts;
    veltra::MainWindow w(&prompts);
    for (int item = 0; item < veltra::itemCount(3); ++item) {
        const QString text = veltra::textOfCode(veltra::PageKind::Circuit, item, 0);
        w.setPresentValue(3, item, text);
        w.setSetValue(3, item, text);
    }
    w.setPresentValue(3, 1, QStringLiteral("30(mA)"));
    w.setSetValue(3, 1, QStringLiteral("50(mA)"));
    for (const QString &quote : {w.findChild<QWidget *>(QStringLiteral("Combo4_1"))->toolTip(),
                                 veltra::messages::verified(), veltra::messages::notVerified()}) {
        QVERIFY(!quote.isEmpty());
        QVERIFY2(HelpWindow::additionsText().contains(quote), qPrintable(quote));
    }
}

QTEST_MAIN(TestHelpWindow)
#include "tst_helpwindow.moc"
