#include "cli/cli.h"
#include "clirun.h"
#include "endtoend.h"
#include "expectedtexts.h"
#include "faultyline.h"
#include "file/settingsfile.h"
#include "file/sjis.h"
#include "link/serialport.h"
#include "operations/messages.h"
#include "settings/memoryfields.h"
#include "testmain.h"
#include "version.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace veltra;
using namespace veltra::test;

// veltra-cli as a script or an engineer runs it: the real program, against the simulated
// relay over a pseudo-terminal; the relay's log shows what reached the line.
namespace {

using Result = CliResult;

// A settings file whose every item holds its `code`-th value (station `code`).
QString makeFile(const QString &path, int code)
{
    MemoryFields fields;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            fields.setPresentValue(page, item, textOfCode(pageKind(page), item, code));
    return writeSettingsFile(path, fields) == FileProblem::None ? path : QString();
}

QStringList fileValues(int code, int page)
{
    QStringList values;
    for (int item = 0; item < itemCount(page); ++item)
        values << textOfCode(pageKind(page), item, code);
    return values;
}

QList<QStringList> jsonPages(const QString &json)
{
    QList<QStringList> pages;
    for (const QJsonValue &page : QJsonDocument::fromJson(json.toUtf8())["pages"].toArray()) {
        QStringList values;
        for (const QJsonValue &item : page["items"].toArray())
            values << item["present"].toString();
        pages << values;
    }
    return pages;
}

const QStringList kWriteAllFrames{"AE0", "B00", "B11", "B22", "B33",
                                  "B44", "B55", "B66", "B77", "B88"};
const QStringList kReadBack{"AE0", "AE1", "AE2", "AE3", "AE4", "AE5", "AE6", "AE7", "AE8"};

// A file's lines with the whitespace runs of each made single, for text written in two places.
QStringList simplifiedLines(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n'))
        lines << line.simplified();
    return lines;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void helpAndVersion();
    void usageAgreesWithManPageAndReadme();
    void usageErrorsSendNothing_data();
    void usageErrorsSendNothing();
    void readAll();
    void readOnePage();
    void readSavesTheWindowsBytes();
    void saveNeedsAllPages();
    void writeThenRead();
    void writeOnePage();
    void frameThatDoesNotLeaveExits3();
    void verifyNamesTheItemTheRelayIgnored();
    void relayWrittenFromAFileHasItsFingerprint();
    void logHoldsEveryFrame();
    void badFilesSendNothing_data();
    void badFilesSendNothing();
    void lineProblems_data();
    void lineProblems();
    void confirmationOnATerminal();
    void questionReachesTheTerminalWhenStderrIsAFile();
    void clearValues();
    void diffFiles();
    void diffWithTheRelay();
    void spoiledRepliesAreReadAlikeEverywhere_data();
    void spoiledRepliesAreReadAlikeEverywhere();
    void stoppedReadSaysHowFar();
    void pageWriteNotSentSaysWhich();
    void checkFile();
    void setValuesOfAFile();
    void findRelays();
    void guardedCommands_data();
    void guardedCommands();
    void namesAreTheBytesGiven();
    void oneCommandAtATimePerPort();
    void stopSaysWhatItLeft_data();
    void stopSaysWhatItLeft();
    void portLines_data();
    void portLines();
    void portsListedAlikeInJson();
    void noCommandButTheRecordStartsGui();
};

void TestCli::helpAndVersion()
{
    const Result help = runCli({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    for (const char *line :
         {"veltra-cli ports [--json]",
          "veltra-cli read  --port P [--page N] [--json] [-o FILE.DT] [--log FILE]",
          "veltra-cli write FILE.DT --port P [--page N] [--expect-station N] [--no-verify] [--yes] "
          "[--json] [--log FILE]",
          "veltra-cli clear --port P (--operation | --maximum) [--expect-station N] [--yes] "
          "[--log FILE]",
          "veltra-cli diff  FILE.DT (--port P | OTHER.DT) [--json] [--log FILE]",
          "veltra-cli --version", "8  not confirmed: nothing was sent",
          "10  the relay answered with another station number than expected (--expect-station): "
          "nothing was sent"})
        QVERIFY2(help.out.contains(QStringLiteral("  ") + QLatin1String(line) + u'\n'), line);
    for (const char *command : {"ports", "read", "write", "clear", "diff"}) {
        const Result one = runCli({QLatin1String(command), QStringLiteral("--help")});
        QCOMPARE(one.code, 0);
        QVERIFY2(one.out.startsWith(QStringLiteral("usage: veltra-cli ") + QLatin1String(command)),
                 qPrintable(one.out));
    }
    const Result version = runCli({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QStringLiteral("veltra-cli " VELTRA_VERSION "\n"));
}

void TestCli::usageAgreesWithManPageAndReadme()
{
    // --help is the one source: every synopsis and every exit status it gives stands in the
    // manual page and in the README the same way.
    const Result help = runCli({QStringLiteral("--help")});
    QStringList synopses, exits;
    bool inExits = false;
    for (const QString &line : help.out.split(u'\n')) {
        if (line.startsWith(QStringLiteral("  veltra-cli ")))
            synopses << line.simplified();
        else if (line == QStringLiteral("Exit status:"))
            inExits = true;
        else if (inExits && line.startsWith(QStringLiteral("  ")))
            exits << line.simplified();
        else
            inExits = false;
    }
    QCOMPARE(synopses.size(), 12);
    QCOMPARE(exits.size(), 13);
    QString man = readText(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../packaging/veltra-cli.1.in"));
    man.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    const QStringList manLines = simplifiedLines(man);
    const QStringList readme =
        simplifiedLines(readText(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../README.md")));
    for (const QString &synopsis : synopses) {
        QVERIFY2(manLines.contains(QStringLiteral(".B ") + synopsis), qPrintable(synopsis));
        QVERIFY2(readme.contains(synopsis), qPrintable(synopsis));
    }
    for (const QString &exit : exits) {
        const QString code = exit.section(u' ', 0, 0), meaning = exit.section(u' ', 1);
        QVERIFY2(man.contains(QStringLiteral(".B %1\n%2\n").arg(code, meaning)), qPrintable(exit));
        QVERIFY2(readme.contains(exit), qPrintable(exit));
    }
}

void TestCli::usageErrorsSendNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // PORT stands for the relay's line
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"readall", "--port", "PORT"};
    QTest::newRow("unknown option") << QStringList{"read", "--port", "PORT", "--fast"};
    QTest::newRow("read without --port") << QStringList{"read"};
    QTest::newRow("--port without value") << QStringList{"read", "--port"};
    QTest::newRow("page 9") << QStringList{"read", "--port", "PORT", "--page", "9"};
    QTest::newRow("page x") << QStringList{"read", "--port", "PORT", "--page", "x"};
    QTest::newRow("write without file") << QStringList{"write", "--port", "PORT", "--yes"};
    QTest::newRow("write without --port") << QStringList{"write", "FILE", "--yes"};
    QTest::newRow("clear, neither") << QStringList{"clear", "--port", "PORT", "--yes"};
    QTest::newRow("clear, both") << QStringList{"clear",       "--port",    "PORT",
                                                "--operation", "--maximum", "--yes"};
    QTest::newRow("diff, port and file") << QStringList{"diff", "FILE", "FILE", "--port", "PORT"};
    QTest::newRow("diff, one file alone") << QStringList{"diff", "FILE"};
    QTest::newRow("read, a stray argument") << QStringList{"read", "--port", "PORT", "now"};
    QTest::newRow("read one page into a file")
        << QStringList{"read", "--port", "PORT", "--page", "2", "-o", "OUT"};
    QTest::newRow("site report without -o") << QStringList{"site", "report", "FILE"};
    QTest::newRow("write, verify and not")
        << QStringList{"write", "FILE", "--port", "PORT", "--yes", "--verify", "--no-verify"};
}

void TestCli::usageErrorsSendNothing()
{
    QFETCH(QStringList, arguments);
    RelaySim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("a.DT")), 1);
    arguments.replaceInStrings(QStringLiteral("PORT"), sim.portPath());
    arguments.replaceInStrings(QStringLiteral("FILE"), file);
    arguments.replaceInStrings(QStringLiteral("OUT"), dir.filePath(QStringLiteral("out.DT")));
    const Result result = runCli(arguments);
    QCOMPARE(result.code, 2);
    QVERIFY(result.err.startsWith(QStringLiteral("veltra-cli: ")));
    QVERIFY(result.out.isEmpty());
    QTest::qWait(100);
    QVERIFY(sim.frames().isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.DT"))));
}

void TestCli::readAll()
{
    RelaySim sim;
    QVERIFY(sim.start());
    const Result json = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                QStringLiteral("--json")});
    QCOMPARE(json.code, 0);
    QVERIFY(json.err.isEmpty()); // silent in a script
    const QJsonDocument doc = QJsonDocument::fromJson(json.out.toUtf8());
    QCOMPARE(doc["port"].toString(), sim.portPath());
    QCOMPARE(doc["pages"][3]["page"].toInt(), 3);
    QCOMPARE(doc["pages"][3]["items"][1]["label"].toString(),
             QStringLiteral("絶縁監視動作感度設定"));
    const QList<QStringList> pages = jsonPages(json.out);
    QCOMPARE(pages.size(), kPageCount);
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(pages[page], expectedTexts(sim::defaultSettings(), page));

    const Result text = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath()});
    QCOMPARE(text.code, 0);
    const QStringList lines = text.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7 + 8 * 5);
    QCOMPARE(lines[0], QStringLiteral("0\t監視電路周波数\t60Hz"));
    QCOMPARE(lines[1], QStringLiteral("0\t動作表示LED復帰方式\t自動")); // as the rows stand
    QCOMPARE(lines.last(), QStringLiteral("8\t漏電監視時限設定\t1.5(秒)"));
    QCOMPARE(receivedCommands(sim).size(), 18);
}

void TestCli::readOnePage()
{
    RelaySim sim;
    QVERIFY(sim.start());
    const Result result = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                  QStringLiteral("--page"), QStringLiteral("5")});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out.split(u'\n', Qt::SkipEmptyParts).size(), 5);
    QVERIFY(result.out.startsWith(QStringLiteral("5\t電気方式の設定\t3φ3Y\n")));
    QCOMPARE(receivedCommands(sim), QStringList{"AE5"});
}

void TestCli::readSavesTheWindowsBytes()
{
    QTemporaryDir dir;
    const QString settings = makeFile(dir.filePath(QStringLiteral("relay.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--settings"), settings}));
    const QString byCli = dir.filePath(QStringLiteral("cli.DT"));
    const Result result = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                  QStringLiteral("-o"), byCli});
    QCOMPARE(result.code, 0);

    ScriptedPrompts prompts;
    MainWindow window(&prompts, sim.portPath());
    button(window, QStringLiteral("Command12"))->click();
    const QString byWindow = dir.filePath(QStringLiteral("window.DT"));
    prompts.saveNames << byWindow;
    button(window, QStringLiteral("Command15"))->click();
    QCOMPARE(prompts.texts(), QStringList{text::kAllRead});

    QFile a(byCli), b(byWindow);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    QCOMPARE(bytes, b.readAll());
    QVERIFY(bytes.endsWith("\r\n"));
}

void TestCli::saveNeedsAllPages()
{
    RelaySim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    // Into a folder that is not there: the window's message, and code 7.
    const Result nowhere = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                   QStringLiteral("-o"), dir.filePath(QStringLiteral("no/x.DT"))});
    QCOMPARE(nowhere.code, 7);
    QVERIFY(nowhere.err.startsWith(QStringLiteral("設定値を保存できませんでした。 (")));
}

void TestCli::writeThenRead()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start());
    const Result write = runCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                                 sim.portPath(), QStringLiteral("--yes")});
    QCOMPARE(write.code, 0);
    // Proved by default: the link check, the nine frames and the read-back, nothing else.
    QCOMPARE(write.err, QStringLiteral("設定値の書き込みと照合が終了しました。\n"));
    QVERIFY(sim.waitForFrames(19));
    QCOMPARE(receivedCommands(sim), kWriteAllFrames + kReadBack);
    for (const QJsonObject &frame : sim.frames())
        QVERIFY(frame["accepted"].toBool());

    const Result read = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                QStringLiteral("--json")});
    const QList<QStringList> pages = jsonPages(read.out);
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(pages[page], fileValues(1, page));
}

void TestCli::writeOnePage()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start());
    const Result write =
        runCli({QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath(),
                QStringLiteral("--page"), QStringLiteral("6"), QStringLiteral("--yes")});
    QCOMPARE(write.code, 0);
    QVERIFY(sim.waitForFrames(3)); // the relay logs as it reads the line
    QCOMPARE(receivedCommands(sim), (QStringList{"AE0", "B66", "AE6"}));
    // --no-verify: as the window writes with its option off.
    const Result unproved = runCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                                    sim.portPath(), QStringLiteral("--page"), QStringLiteral("6"),
                                    QStringLiteral("--no-verify"), QStringLiteral("--yes")});
    QCOMPARE(unproved.code, 0);
    QCOMPARE(unproved.err, text::kWritten + u'\n');
    QVERIFY(sim.waitForFrames(5));
    QCOMPARE(receivedCommands(sim).mid(3), (QStringList{"AE0", "B66"}));
}

void TestCli::frameThatDoesNotLeaveExits3()
{
    // In-process, so that the line can fail on cue after the link check.
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start());
    QByteArray out, err;
    veltra::cli::Console console;
    console.out = [&](const QByteArray &text) { out += text; };
    console.err = [&](const QByteArray &text) { err += text; };
    console.serialPort = [] { return new FaultyLine(4); };
    const int code = veltra::cli::run({QStringLiteral("write"), file, QStringLiteral("--port"),
                                       sim.portPath(), QStringLiteral("--yes")},
                                      console);
    QCOMPARE(code, 3);
    QVERIFY(out.isEmpty());
    const QString message = QString::fromUtf8(err);
    QVERIFY2(message.startsWith(text::kNoReply + QStringLiteral(" (")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("page 3 did not leave")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("pages written before it: 0, 1, 2")),
             qPrintable(message));
    QVERIFY2(message.contains(
                 QStringLiteral("\n書込済み: 共通設定、回路１、回路２ / 未書込: 回路３～回路８\n")),
             qPrintable(message));
    QTest::qWait(150);
    QCOMPARE(receivedCommands(sim).join(u' '), QStringLiteral("AE0 B00 B11 B22"));
}

void TestCli::verifyNamesTheItemTheRelayIgnored()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--ignore-write"), QStringLiteral("3:1")}));
    const Result write =
        runCli({QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath(),
                QStringLiteral("--verify"), QStringLiteral("--yes")});
    QCOMPARE(write.code, 1);
    QCOMPARE(write.out,
             QStringLiteral("回路３ 絶縁監視動作感度設定: 設定 30(mA) / 現在 100(mA)\n"));
    QVERIFY(write.err.startsWith(QStringLiteral("設定値が反映されていない項目があります。 (")));
    QCOMPARE(receivedCommands(sim).mid(10), kReadBack);

    // All taken: exit 0 with the window's message.
    RelaySim good;
    QVERIFY(good.start());
    const Result clean =
        runCli({QStringLiteral("write"), file, QStringLiteral("--port"), good.portPath(),
                QStringLiteral("--verify"), QStringLiteral("--yes")});
    QCOMPARE(clean.code, 0);
    QCOMPARE(clean.err, QStringLiteral("設定値の書き込みと照合が終了しました。\n"));
}

void TestCli::relayWrittenFromAFileHasItsFingerprint()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start());
    QCOMPARE(runCli({QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath(),
                     QStringLiteral("--yes")})
                 .code,
             0);
    const Result checked = runCli({QStringLiteral("check"), file, QStringLiteral("--json")});
    const Result read = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                QStringLiteral("--json")});
    QCOMPARE(read.code, 0);
    const QString expected =
        QJsonDocument::fromJson(checked.out.toUtf8())["fingerprint"].toString();
    QCOMPARE(expected.size(), 8);
    QCOMPARE(QJsonDocument::fromJson(read.out.toUtf8())["fingerprint"].toString(), expected);
    // Without --json it goes beside the values, on stderr.
    QCOMPARE(runCli({QStringLiteral("check"), file}).err,
             QStringLiteral("fingerprint: %1\n").arg(expected));
    QCOMPARE(runCli({QStringLiteral("diff"), file, QStringLiteral("--port"), sim.portPath()}).err,
             QStringLiteral("fingerprint: %1 left, %1 right\n").arg(expected));
}

void TestCli::logHoldsEveryFrame()
{
    QTemporaryDir dir;
    RelaySim sim;
    QVERIFY(sim.start());
    const QString log = dir.filePath(QStringLiteral("frames.txt"));
    const Result read =
        runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                QStringLiteral("--page"), QStringLiteral("4"), QStringLiteral("--log"), log});
    QCOMPARE(read.code, 0);
    const QStringList lines = readText(log).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    // A header names the run: when, the command, the port, and the command line.
    const QStringList header = lines[0].split(QStringLiteral("  "));
    QCOMPARE(header.size(), 4);
    QVERIFY2(QDateTime::fromString(header[0].sliced(2), Qt::ISODateWithMs).isValid(),
             qPrintable(lines[0]));
    QCOMPARE(header.mid(1),
             (QStringList{QStringLiteral("read"), sim.portPath(),
                          QStringLiteral("veltra-cli read --port %1 --page 4 --log %2")
                              .arg(sim.portPath(), log)}));
    QVERIFY2(lines[1].endsWith(QStringLiteral("  送信  回路４  <ENQ>FFAE0004D6<CR>  送信済み")),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].contains(QStringLiteral("  受信  回路４  <STX>FF")) &&
                 lines[2].endsWith(QStringLiteral("<CR>  正常")),
             qPrintable(lines[2]));
    // A search's lines name their port.
    QCOMPARE(runCli({QStringLiteral("find"), QStringLiteral("--port"), sim.portPath(),
                     QStringLiteral("--log"), log})
                 .code,
             0);
    const QString found = readText(log);
    QVERIFY2(found.contains(QStringLiteral("  %1  受信  共通設定  <STX>FF").arg(sim.portPath())),
             qPrintable(found));
    // A second run appends under its own header; the first run's lines stay.
    QVERIFY2(found.startsWith(lines.join(u'\n') + QStringLiteral("\n# ")), qPrintable(found));
    // A log that cannot be written is refused before anything is sent.
    const qsizetype framesBefore = sim.frames().size();
    const Result nowhere = runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                                   QStringLiteral("--page"), QStringLiteral("4"),
                                   QStringLiteral("--log"), dir.filePath(QStringLiteral("no/x"))});
    QCOMPARE(nowhere.code, 7);
    QCOMPARE(nowhere.out, QString());
    QVERIFY(nowhere.err.startsWith(QStringLiteral("ログを保存できませんでした。 (")));
    QCOMPARE(sim.frames().size(), framesBefore);
}

void TestCli::badFilesSendNothing_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: the file is missing; "EDIT": a good file edited
    QTest::addColumn<QString>("edit");     // line (from 0), field (from 0), new value
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("problem"); // the line naming what cannot be written
    const QString invalid = text::kInvalidSet;
    const QString notSettings =
        QStringLiteral("VELTRA設定ファイルではありません。読み込みを終了します。");
    QTest::newRow("missing") << QByteArray() << "" << 7 << "設定ファイルを読み込めませんでした。"
                             << "";
    QTest::newRow("foreign") << QByteArray("id,name\r\n1,relay\r\n") << "" << 6 << notSettings
                             << "";
    QTest::newRow("eleven lines") << QByteArray("EDIT") << "11" << 6 << notSettings << "";
    QTest::newRow("saved as UTF-8") << QByteArray("UTF8") << "" << 6 << notSettings << "";
    QTest::newRow("station 300") << QByteArray("EDIT") << "2,7,300" << 6 << invalid
                                 << "0\t伝送局番号設定\t300\t局番号は 000～255 の数です";
    QTest::newRow("33(mA), in no list") << QByteArray("EDIT") << "6,2,33(mA)" << 6 << invalid
                                        << "3\t絶縁監視動作感度設定\t33(mA)\t一覧にない値です";
    QTest::newRow("empty field") << QByteArray("EDIT") << "11,5," << 6 << invalid
                                 << "8\t漏電監視時限設定\t\t空欄です";
    // Loading goes by position: swapped lines would write circuit 2's settings into circuit 1.
    const QString misplaced =
        QStringLiteral("%1\t%2 の行に別のラベルがあります (line %3 is labelled "
                       "'%4', not '%2'; nothing is sent)");
    QTest::newRow("circuits 1 and 2 swapped")
        << QByteArray("EDIT") << "swap,4,5" << 6 << text::kMisplacedLabels
        << misplaced.arg(1).arg(QStringLiteral("回路１")).arg(5).arg(QStringLiteral("回路２")) +
               u'\n' +
               misplaced.arg(2).arg(QStringLiteral("回路２")).arg(6).arg(QStringLiteral("回路１"));
    QTest::newRow("the common line in circuit 1's place")
        << QByteArray("EDIT") << "copy,2,4" << 6 << text::kMisplacedLabels
        << misplaced.arg(1).arg(QStringLiteral("回路１")).arg(5).arg(QStringLiteral("共通設定"));
    // Refused at once: a FIFO would wait for a writer for ever.
    QTest::newRow("a FIFO") << QByteArray("FIFO") << "" << 7 << text::kUnreadable << "";
    QTest::newRow("a folder") << QByteArray("DIR") << "" << 7 << text::kUnreadable << "";
}

void TestCli::badFilesSendNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, edit);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.DT"));
    if (bytes == "EDIT") {
        QVERIFY(!makeFile(path, 1).isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        const QStringList parts = edit.split(u',');
        if (parts.size() == 1) {
            lines = lines.mid(0, parts[0].toInt());
        } else if (parts[0] == QLatin1String("swap")) {
            lines.swapItemsAt(parts[1].toInt(), parts[2].toInt());
        } else if (parts[0] == QLatin1String("copy")) {
            lines[parts[2].toInt()] = lines[parts[1].toInt()];
        } else {
            QList<QByteArray> fields = lines[parts[0].toInt()].chopped(1).split(',');
            fields[parts[1].toInt()] = parts[2].toUtf8(); // ASCII values only
            lines[parts[0].toInt()] = fields.join(',') + '\r';
        }
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(lines.join('\n'));
    } else if (bytes == "UTF8") { // a good file, as an editor may save it
        QVERIFY(!makeFile(path, 1).isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray utf8 = decodeShiftJis(file.readAll()).toUtf8();
        QVERIFY(file.resize(0) && file.write(utf8) == utf8.size());
    } else if (bytes == "FIFO") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else if (bytes == "DIR") {
        QVERIFY(QDir().mkpath(path));
    } else if (!bytes.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    RelaySim sim;
    QVERIFY(sim.start());
    const Result result = runCli({QStringLiteral("write"), path, QStringLiteral("--port"),
                                  sim.portPath(), QStringLiteral("--yes")});
    QCOMPARE(result.code, code);
    QStringList lines = result.err.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : problem.split(u'\n', Qt::SkipEmptyParts))
        QCOMPARE(lines.takeFirst(), line);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(message + QStringLiteral(" (")), qPrintable(result.err));
    QVERIFY(lines[0].endsWith(u')'));
    QCOMPARE(lines[0].endsWith(QStringLiteral("; saved as UTF-8? settings files are Shift-JIS)")),
             bytes == "UTF8");
    QTest::qWait(100);
    QVERIFY(sim.frames().isEmpty()); // not even the link check
}

void TestCli::lineProblems_data()
{
    QTest::addColumn<QStringList>("simArgs"); // empty: no relay at all
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("port that does not exist") << QStringList{} << 5 << text::kPortUnusable;
    QTest::newRow("silent relay") << QStringList{"--fault", "no-reply"} << 3 << text::kNoReply;
    QTest::newRow("garbled reply")
        << QStringList{"--fault", "bad-checksum"} << 4 << text::kDataError;
}

void TestCli::lineProblems()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, code);
    QFETCH(QString, message);
    RelaySim sim;
    QString port = QStringLiteral("/dev/veltra-no-such-port");
    if (!simArgs.isEmpty()) {
        QVERIFY(sim.start(simArgs));
        port = sim.portPath();
    }
    QElapsedTimer clock;
    clock.start();
    const Result result = runCli({QStringLiteral("read"), QStringLiteral("--port"), port});
    QCOMPARE(result.code, code);
    QVERIFY2(result.err.startsWith(message + QStringLiteral(" (")), qPrintable(result.err));
    QVERIFY(result.err.contains(port));
    QVERIFY(result.out.isEmpty());
    QVERIFY(clock.elapsed() < 6000); // one 3 s time-out at most, then it stops
}

void TestCli::confirmationOnATerminal()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start());
    // Declined: asked, nothing sent.
    const Result no = onTerminal(
        {QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath()}, "n\n");
    QCOMPARE(no.code, 8);
    QVERIFY2(no.out.contains(
                 QStringLiteral(
                     "%1 のVELTRA (局番号未確認) に 9 ページを書き込みます。よろしいですか？ [y/N]")
                     .arg(sim.portPath())),
             qPrintable(no.out));
    QVERIFY(sim.frames().isEmpty());
    // Answered yes: written, with progress on the terminal.
    const Result yes = onTerminal(
        {QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath()}, "y\n");
    QCOMPARE(yes.code, 0);
    QVERIFY2(yes.out.contains(QStringLiteral("書込中 9/9")), qPrintable(yes.out));
    QVERIFY(sim.waitForFrames(19));
    QCOMPARE(receivedCommands(sim), kWriteAllFrames + kReadBack);
    const Result read =
        onTerminal({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath()}, {});
    QVERIFY(read.out.contains(QStringLiteral("読込中 9/9")));
}

void TestCli::questionReachesTheTerminalWhenStderrIsAFile()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    const QString log = dir.filePath(QStringLiteral("err.log"));
    RelaySim sim;
    QVERIFY(sim.start());
    QProcess process;
    process.start(QStringLiteral("script"),
                  {QStringLiteral("-qec"),
                   QStringLiteral("'%1' write '%2' --port '%3' --no-verify 2>'%4'")
                       .arg(QStringLiteral(VELTRA_CLI), file, sim.portPath(), log),
                   QStringLiteral("/dev/null")});
    process.write("y\n");
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    // Asked where the person is, answered there; the report went to the file.
    QVERIFY(
        QString::fromUtf8(process.readAllStandardOutput())
            .contains(
                QStringLiteral(
                    "%1 のVELTRA (局番号未確認) に 9 ページを書き込みます。よろしいですか？ [y/N]")
                    .arg(sim.portPath())));
    QCOMPARE(readText(log), text::kWritten + u'\n');
    QVERIFY(sim.waitForFrames(10));
}

void TestCli::clearValues()
{
    RelaySim sim;
    QVERIFY(sim.start());
    const Result result = runCli({QStringLiteral("clear"), QStringLiteral("--port"), sim.portPath(),
                                  QStringLiteral("--maximum"), QStringLiteral("--yes")});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.err, QStringLiteral("最大値のクリアを送信しました。\n"));
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(receivedCommands(sim), (QStringList{"AE0", "B99"}));
    QCOMPARE(sim.frames().constLast()["reason"].toString(),
             QStringLiteral("cleared maximum values"));
    // Without --yes and without a terminal: refused, nothing sent.
    const Result refused = runCli({QStringLiteral("clear"), QStringLiteral("--port"),
                                   sim.portPath(), QStringLiteral("--operation")});
    QCOMPARE(refused.code, 8);
    QVERIFY(refused.err.contains(QStringLiteral("--yes")));
    QCOMPARE(receivedCommands(sim).size(), 2);
}

void TestCli::diffFiles()
{
    QTemporaryDir dir;
    const QString a = makeFile(dir.filePath(QStringLiteral("a.DT")), 1);
    const QString same = makeFile(dir.filePath(QStringLiteral("same.DT")), 1);
    const QString b = makeFile(dir.filePath(QStringLiteral("b.DT")), 0);
    const Result equal = runCli({QStringLiteral("diff"), a, same});
    QCOMPARE(equal.code, 0);
    QVERIFY(equal.out.isEmpty());

    const Result differ = runCli({QStringLiteral("diff"), a, b});
    QCOMPARE(differ.code, 1);
    const QStringList lines = differ.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7 + 8 * 5); // every item's first value differs from its second
    QCOMPARE(lines[0], QStringLiteral("0\t監視電路周波数\t60Hz\t50Hz"));

    const Result json = runCli({QStringLiteral("diff"), a, b, QStringLiteral("--json")});
    QCOMPARE(json.code, 1);
    const QJsonDocument doc = QJsonDocument::fromJson(json.out.toUtf8());
    QCOMPARE(doc["left"].toString(), a);
    QCOMPARE(doc["right"].toString(), b);
    QCOMPARE(doc["differences"].toArray().size(), 47);
    QCOMPARE(doc["differences"][0]["right"].toString(), QStringLiteral("50Hz"));

    const Result missing =
        runCli({QStringLiteral("diff"), a, dir.filePath(QStringLiteral("x.DT"))});
    QCOMPARE(missing.code, 7);
}

void TestCli::diffWithTheRelay()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("relay.DT")), 1);
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--settings"), file}));
    QCOMPARE(runCli({QStringLiteral("diff"), file, QStringLiteral("--port"), sim.portPath()}).code,
             0);
    // A file that differs from the relay in one item of every circuit.
    const QString other = makeFile(dir.filePath(QStringLiteral("other.DT")), 1);
    QFile f(other);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    QCOMPARE(bytes.count("30(mA)"), 8);
    bytes.replace("30(mA)", "45(mA)");
    QVERIFY(f.seek(0));
    f.write(bytes);
    f.close();
    const Result differ =
        runCli({QStringLiteral("diff"), other, QStringLiteral("--port"), sim.portPath()});
    QCOMPARE(differ.code, 1);
    QStringList expected;
    for (int circuit = 1; circuit < kPageCount; ++circuit)
        expected << QStringLiteral("%1\t絶縁監視動作感度設定\t45(mA)\t30(mA)").arg(circuit);
    QCOMPARE(differ.out.split(u'\n', Qt::SkipEmptyParts), expected);

    // A code only the write table names (1.5(A), code 14, shown as ERROR): compared by code
    // as verify compares, and named in the words a write would use.
    const QString beyond = dir.filePath(QStringLiteral("beyond.DT"));
    QCOMPARE(runCli({"set", file, "3:漏電監視動作感度設定=1.5(A)", "-o", beyond}).code, 0);
    QCOMPARE(runCli({"write", beyond, "--port", sim.portPath(), "--page", "3", "--yes"}).code, 0);
    QCOMPARE(runCli({"diff", beyond, "--port", sim.portPath()}).code, 0);
    const Result named = runCli({"diff", file, "--port", sim.portPath()});
    QCOMPARE(named.code, 1);
    QCOMPARE(named.out, QStringLiteral("3\t漏電監視動作感度設定\t0.2(A)\t1.5(A)\n"));
}

void TestCli::spoiledRepliesAreReadAlikeEverywhere_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("readExit");
    QTest::addColumn<QStringList>("page3"); // what read shows of page 3
    QTest::addColumn<int>("writeExit");
    QTest::addColumn<int>("notTaken");
    QTest::addColumn<int>("diffExit");
    QTest::addColumn<int>("differences");
    QTest::addColumn<int>("findExit");
    QTest::addColumn<QString>("station"); // what find prints for the relay
    const QStringList written{"1φ2W", "85(mA)", "10(秒)", "0.2(A)", "1.8(秒)"};
    QTest::newRow("lower-case hex")
        << "lowercase-hex" << 0 << QStringList{"1φ2W", "ERROR", "10(秒)", "0.2(A)", "ERROR"} << 1
        << 2 << 1 << 2 << 0 << "001";
    QTest::newRow("a blank in each field")
        << "blank-in-field" << 0 << QStringList(5, "ERROR") << 1 << 5 << 1 << 5 << 0 << "ERROR";
    QTest::newRow("stray byte before STX")
        << "stray-before-stx" << 4 << QStringList() << 9 << 0 << 4 << 0 << 3 << "";
    QTest::newRow("echo of the request")
        << "echo" << 4 << QStringList() << 9 << 0 << 4 << 0 << 3 << "";
    QTest::newRow("reply for another page")
        << "other-page" << 0 << QStringList{"1φ2W", "30(mA)", "10(秒)", "0.2(A)", "0.4(秒)"} << 1
        << 2 << 1 << 2 << 0 << "000";
}

void TestCli::spoiledRepliesAreReadAlikeEverywhere()
{
    // Decoding, verify, diff and the search read one reply by one rule: a field read loosely
    // once gave "taken" and exit 0 where the window showed ERROR.
    QFETCH(QString, fault);
    QFETCH(int, readExit);
    QFETCH(QStringList, page3);
    QFETCH(int, writeExit);
    QFETCH(int, notTaken);
    QFETCH(int, diffExit);
    QFETCH(int, differences);
    QFETCH(int, findExit);
    QFETCH(QString, station);
    QTemporaryDir dir;
    // Page 3 holds hex letters (0C, 0A), the rest code 1.
    MemoryFields fields;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            fields.setPresentValue(page, item, textOfCode(pageKind(page), item, 1));
    fields.setPresentValue(3, 1, QStringLiteral("85(mA)"));
    fields.setPresentValue(3, 4, QStringLiteral("1.8(秒)"));
    const QString file = dir.filePath(QStringLiteral("relay.DT"));
    QCOMPARE(writeSettingsFile(file, fields), FileProblem::None);

    RelaySim sim;
    QVERIFY(sim.start({"--settings", file, "--fault", fault, "--fault-page", "3"}));
    const Result read = runCli({"read", "--port", sim.portPath(), "--page", "3", "--json"});
    QCOMPARE(read.code, readExit);
    if (readExit == 0)
        QCOMPARE(jsonPages(read.out).value(0), page3);
    const Result write =
        runCli({"write", file, "--port", sim.portPath(), "--page", "3", "--yes", "--json"});
    QCOMPARE(write.code, writeExit);
    const QJsonDocument written = QJsonDocument::fromJson(write.out.toUtf8());
    QCOMPARE(written["exit"].toInt(), writeExit);
    QCOMPARE(written["notTaken"].toArray().size(), notTaken);
    QCOMPARE(written["pagesSent"].toArray(), QJsonArray{3}); // sent, whatever the read-back
    QCOMPARE(written["verified"].toBool(), writeExit != 9);
    if (writeExit == 9) // sent, and why it could not be checked
        QVERIFY2(write.err.contains(QStringLiteral("reading them back failed (the relay's reply")),
                 qPrintable(write.err));
    const Result diff = runCli({"diff", file, "--port", sim.portPath()});
    QCOMPARE(diff.code, diffExit);
    QCOMPARE(diff.out.count(u'\n'), differences);

    RelaySim searched;
    QVERIFY(searched.start({"--settings", file, "--fault", fault, "--fault-page", "0"}));
    const Result find = runCli({"find", "--port", searched.portPath()});
    QCOMPARE(find.code, findExit);
    if (findExit == 0)
        QCOMPARE(find.out, searched.portPath() + u'\t' + station + u'\n');
    else
        QVERIFY2(find.err.contains(QStringLiteral("a read would reject")), qPrintable(find.err));
}

// A page write that never reached the line names that page as not sent, in --json too.
void TestCli::pageWriteNotSentSaysWhich()
{
    QTemporaryDir dir;
    MemoryFields fields;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            fields.setPresentValue(page, item, textOfCode(pageKind(page), item, 1));
    const QString file = dir.filePath(QStringLiteral("relay.DT"));
    QCOMPARE(writeSettingsFile(file, fields), FileProblem::None);
    const Result write = runCli({"write", file, "--port", dir.filePath(QStringLiteral("none")),
                                 "--page", "3", "--yes", "--json"});
    QCOMPARE(write.code, 5);
    const QJsonDocument written = QJsonDocument::fromJson(write.out.toUtf8());
    QCOMPARE(written["pagesSent"].toArray(), QJsonArray{});
    QCOMPARE(written["pagesNotSent"].toArray(), QJsonArray{3});
}

void TestCli::stoppedReadSaysHowFar()
{
    RelaySim sim;
    QVERIFY(sim.start({"--fault", "bad-checksum", "--fault-page", "5"}));
    const Result read = runCli({"read", "--port", sim.portPath(), "--json"});
    QCOMPARE(read.code, 4);
    const QJsonDocument json = QJsonDocument::fromJson(read.out.toUtf8());
    QCOMPARE(json["pagesRead"].toArray(), (QJsonArray{0, 1, 2, 3, 4}));
    QCOMPARE(json["pagesNotRead"].toArray(), (QJsonArray{5, 6, 7, 8}));
    const QString progress =
        QStringLiteral("読込済み: 共通設定、回路１～回路４ / 未読込: 回路５～回路８");
    QVERIFY(json["message"].toString().endsWith(u'\n' + progress));
    QVERIFY2(read.err.endsWith(u'\n' + progress + u'\n'), qPrintable(read.err));
    QVERIFY(read.err.contains(QStringLiteral("pages read before it: 0, 1, 2, 3, 4")));
}

void TestCli::checkFile()
{
    QTemporaryDir dir;
    const QString good = makeFile(dir.filePath(QStringLiteral("good.DT")), 1);
    const Result ok = runCli({QStringLiteral("check"), good});
    QCOMPARE(ok.code, 0);
    QVERIFY(ok.err.startsWith(QStringLiteral("fingerprint: ")) && ok.err.count(u'\n') == 1);
    const QStringList lines = ok.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7 + 8 * 5);
    QCOMPARE(lines[0], QStringLiteral("0\t監視電路周波数\t60Hz"));
    const Result json = runCli({QStringLiteral("check"), good, QStringLiteral("--json")});
    QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8())["file"].toString(), good);
    QCOMPARE(jsonPages(json.out)[2], fileValues(1, 2));

    // Values that cannot be written: each named, exit 6, the values printed all the same.
    QFile file(good);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    const QString bad = dir.filePath(QStringLiteral("bad.DT"));
    QFile out(bad);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(bytes).replace(",30(mA),", ",33(mA),").replace(",001\r", ",300\r"));
    out.close();
    const Result refused = runCli({QStringLiteral("check"), bad});
    QCOMPARE(refused.code, 6);
    QCOMPARE(refused.out.split(u'\n', Qt::SkipEmptyParts).size(), 7 + 8 * 5);
    const QStringList problems = refused.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(problems.size(), 8 + 1 + 1); // 33(mA) on every circuit, the station, the verdict
    QCOMPARE(problems[0], QStringLiteral("0\t伝送局番号設定\t300\t局番号は 000～255 の数です"));
    QVERIFY(problems[1].startsWith(QStringLiteral("1\t絶縁監視動作感度設定\t33(mA)\t")));

    // A label out of place is said; the file still loads by position, exit as before.
    const QString swapped = dir.filePath(QStringLiteral("swapped.DT"));
    QFile swappedFile(swapped);
    QVERIFY(swappedFile.open(QIODevice::WriteOnly));
    const QByteArray first = *encodeShiftJis(QStringLiteral("回路１,"));
    swappedFile.write(QByteArray(bytes).replace(first, *encodeShiftJis(QStringLiteral("回路２,"))));
    swappedFile.close();
    const Result misplaced = runCli({QStringLiteral("check"), swapped});
    QCOMPARE(misplaced.code, 0);
    QVERIFY2(misplaced.err.startsWith(QStringLiteral("1\t回路１ の行に別のラベルがあります")),
             qPrintable(misplaced.err));
    QCOMPARE(misplaced.err.count(QStringLiteral("別のラベル")), 1);

    const Result missing = runCli({QStringLiteral("check"), dir.filePath(QStringLiteral("x"))});
    QCOMPARE(missing.code, 7);
}

void TestCli::setValuesOfAFile()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("standard.DT")), 1);
    const QByteArray before = readText(file).toUtf8();
    // A change the relay does not know: nothing written, the file as it was.
    for (const QString &change :
         {QStringLiteral("3:絶縁監視動作感度設定=33(mA)"), QStringLiteral("3:6=ﾛｯｸ"),
          QStringLiteral("9:電気方式の設定=ﾛｯｸ")}) {
        const Result refused =
            runCli({QStringLiteral("set"), file, change, QStringLiteral("-o"), file});
        QCOMPARE(refused.code, 6);
        QCOMPARE(readText(file).toUtf8(), before);
        if (change.contains(QStringLiteral("33(mA)"))) // what it would have taken
            QVERIFY2(
                refused.err.contains(QStringLiteral("which takes 30(mA)…100(mA), 5 刻み, ﾛｯｸ;")),
                qPrintable(refused.err));
    }
    // Changed in place, items named by row label, by the file's heading and by row: the
    // result loads with the new values and the others as they were.
    const Result changed =
        runCli({QStringLiteral("set"), file, QStringLiteral("3:絶縁感度=50(mA)"),
                QStringLiteral("0:伝送局番号設定=7"), QStringLiteral("0:絶縁接点復帰=自動"),
                QStringLiteral("2:3=20(秒)"), QStringLiteral("-o"), file});
    QCOMPARE(changed.code, 0);
    const Result diff = runCli({QStringLiteral("diff"), makeFile(dir.filePath("a.DT"), 1), file});
    QCOMPARE(diff.out.split(u'\n', Qt::SkipEmptyParts),
             (QStringList{"0\t絶縁監視接点復帰方式\t手動\t自動", "0\t伝送局番号設定\t001\t007",
                          "2\t絶縁監視時限設定\t10(秒)\t20(秒)",
                          "3\t絶縁監視動作感度設定\t30(mA)\t50(mA)"}));
    QCOMPARE(runCli({QStringLiteral("set"), file, QStringLiteral("-o")}).code, 2);
}

void TestCli::guardedCommands_data()
{
    // {port}, {file}, {other} and {link} (a link to {file}) stand for what the test makes.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("frames"); // what reaches the relay
    QTest::addColumn<QString>("error");      // how stderr starts; empty: not compared
    const QStringList write{"write", "{file}", "--port", "{port}", "--yes", "--no-verify"};
    const QString wrongStation =
        QStringLiteral("{port} のリレーは局番号 012 です (想定 014)。%1 (the relay on {port} is "
                       "station 012, not 014; nothing was sent)");
    QTest::newRow("write, the station expected")
        << write + QStringList{"--expect-station", "012"} << 0 << kWriteAllFrames << "";
    QTest::newRow("write, another station")
        << write + QStringList{"--expect-station", "14"} << 10 << QStringList{"AE0"}
        << wrongStation.arg(QStringLiteral("書き込みを中止しました。"));
    QTest::newRow("clear, another station")
        << QStringList{"clear", "--port",           "{port}", "--operation",
                       "--yes", "--expect-station", "14"}
        << 10 << QStringList{"AE0"} << wrongStation.arg(QStringLiteral("クリアを中止しました。"));
    QTest::newRow("a station that is no number 000..255")
        << write + QStringList{"--expect-station", "256"} << 2 << QStringList{}
        << "veltra-cli: --expect-station takes a station number, 000..255, not '256'";
    // A command never writes over its own files.
    QTest::newRow("--log naming the settings file")
        << write + QStringList{"--log", "{file}"} << 7 << QStringList{}
        << "ログを保存できませんでした。 ({file} is one of this command's own files";
    QTest::newRow("--log naming a link to it")
        << write + QStringList{"--log", "{link}"} << 7 << QStringList{}
        << "ログを保存できませんでした。 ({link} is one of this command's own files";
    QTest::newRow("-o naming the log")
        << QStringList{"read", "--port", "{port}", "-o", "{other}", "--log", "{other}"} << 7
        << QStringList{}
        << "ログを保存できませんでした。 ({other} is one of this command's own files";
    QTest::newRow("diff's second file as the log")
        << QStringList{"diff", "{file}", "{other}", "--log", "{other}"} << 7 << QStringList{} << "";
}

void TestCli::guardedCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QStringList, frames);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("std.DT")), 1);
    const QString other = makeFile(dir.filePath(QStringLiteral("other.DT")), 2);
    const QString link = dir.filePath(QStringLiteral("link.DT"));
    QVERIFY(QFile::link(file, link));
    const QByteArray fileBytes = readText(file).toUtf8(), otherBytes = readText(other).toUtf8();
    RelaySim sim; // station 012
    QVERIFY(sim.start());
    const auto fill = [&](QString text) {
        return text.replace(QLatin1String("{port}"), sim.portPath())
            .replace(QLatin1String("{file}"), file)
            .replace(QLatin1String("{other}"), other)
            .replace(QLatin1String("{link}"), link);
    };
    for (QString &argument : arguments)
        argument = fill(argument);
    const Result result = runCli(arguments);
    QCOMPARE(result.code, code);
    QVERIFY2(result.err.startsWith(fill(error)), qPrintable(result.err));
    if (!frames.isEmpty())
        QVERIFY(sim.waitForFrames(int(frames.size())));
    QTest::qWait(100);
    QCOMPARE(receivedCommands(sim), frames);
    QCOMPARE(readText(file).toUtf8(), fileBytes);
    QCOMPARE(readText(other).toUtf8(), otherBytes);
}

void TestCli::namesAreTheBytesGiven()
{
    // Two Latin-1 names that UTF-8 cannot read, as a zip from another system brings them: each
    // names its own file, as given.
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("std.DT")), 1);
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("'%1' set std.DT 0:局番号=5 -o \"$(printf 'caf\\351.DT')\" && "
                                "'%1' set std.DT 0:局番号=6 -o \"$(printf 'caf\\350.DT')\" && "
                                "'%1' check \"$(printf 'caf\\351.DT')\"")
                     .arg(QStringLiteral(VELTRA_CLI))});
    QVERIFY(shell.waitForFinished(20000));
    QCOMPARE(shell.exitCode(), 0);
    QVERIFY(QString::fromUtf8(shell.readAllStandardOutput())
                .contains(QStringLiteral("\t伝送局番号設定\t005\n")));
    QProcess listing; // the names as the file system holds them, bytes
    listing.setWorkingDirectory(dir.path());
    listing.start(QStringLiteral("bash"),
                  {QStringLiteral("-c"), QStringLiteral("printf '%s\\n' *")});
    QVERIFY(listing.waitForFinished());
    QByteArrayList found = listing.readAllStandardOutput().split('\n');
    found.removeAll(QByteArray());
    QCOMPARE(found, (QByteArrayList{"caf\xe8.DT", "caf\xe9.DT", "std.DT"}));
}

void TestCli::oneCommandAtATimePerPort()
{
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("std.DT")), 1);
    RelaySim sim; // the link check's reply comes late, so that the first command holds the port
    QVERIFY(sim.start({QStringLiteral("--delay"), QStringLiteral("1500")}));
    const std::unique_ptr<QProcess> first =
        startCli({QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath(),
                  QStringLiteral("--yes"), QStringLiteral("--no-verify")});
    QVERIFY(first);
    QVERIFY(sim.waitForFrames(1));
    // The second gets the port-unusable message before it sends anything.
    const Result second = runCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                                  sim.portPath(), QStringLiteral("--yes")});
    QCOMPARE(second.code, 5);
    QVERIFY2(second.err.startsWith(text::kPortUnusable +
                                   QStringLiteral(" (cannot open %1: in use by another command "
                                                  "of this tool; nothing was written)")
                                       .arg(sim.portPath())),
             qPrintable(second.err));
    QCOMPARE(finished(*first).code, 0);
    QCOMPARE(receivedCommands(sim), kWriteAllFrames);
    // Once the first has ended, the port is free.
    QCOMPARE(runCli({QStringLiteral("read"), QStringLiteral("--port"), sim.portPath(),
                     QStringLiteral("--page"), QStringLiteral("1")})
                 .code,
             0);
}

void TestCli::stopSaysWhatItLeft_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("stops");      // how many times it comes
    QTest::addColumn<QString>("delay");  // the relay's turnaround before each reply, ms
    QTest::addColumn<int>("framesSeen"); // the relay has seen this many when the signal comes
    QTest::addColumn<QString>("error");  // what stderr says after the stop's own notice
    const QString nothing =
        QStringLiteral("書き込みを中断しました。 (stopped by a signal before it was done; nothing "
                       "was written)\n書込済み: なし / 未書込: 共通設定、回路１～回路８\n");
    // During the link check: the frame on the line is its request, answered late.
    QTest::newRow("Ctrl+C in the link check") << SIGINT << 1 << "1500" << 1 << nothing;
    QTest::newRow("SIGTERM in the link check") << SIGTERM << 1 << "1500" << 1 << nothing;
    QTest::newRow("SIGHUP in the link check") << SIGHUP << 1 << "1500" << 1 << nothing;
    QTest::newRow("Ctrl+C in the read-back")
        << SIGINT << 1 << "1500" << 11
        << QStringLiteral("書き込みを中断しました。 (stopped by a signal before it was done; pages "
                          "written before it: 0, 1, 2, 3, 4, 5, 6, 7, 8; not read back, so not "
                          "verified)\n書込済み: 共通設定、回路１～回路８ / 未書込: なし\n");
    // Between two frames: wherever it lands, what is said is what the relay got.
    QTest::newRow("Ctrl+C among the frames") << SIGINT << 1 << "0" << 4 << "";
    QTest::newRow("a second Ctrl+C")
        << SIGINT << 2 << "1500" << 1
        << QStringLiteral("\nveltra-cli: 二度目の中断のため、直ちに終了します。 (second stop: "
                          "ending now; a frame on the line may be cut short)\n");
}

void TestCli::stopSaysWhatItLeft()
{
    QFETCH(int, signal);
    QFETCH(int, stops);
    QFETCH(QString, delay);
    QFETCH(int, framesSeen);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString file = makeFile(dir.filePath(QStringLiteral("std.DT")), 1);
    const QString log = dir.filePath(QStringLiteral("frames.txt"));
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--delay"), delay}));
    const std::unique_ptr<QProcess> process =
        startCli({QStringLiteral("write"), file, QStringLiteral("--port"), sim.portPath(),
                  QStringLiteral("--yes"), QStringLiteral("--log"), log});
    QVERIFY(process);
    QVERIFY(sim.waitForFrames(framesSeen, 10000));
    const QString notice = QStringLiteral(
        "\nveltra-cli: 送信中のフレームを終えてから止めます。もう一度で直ちに終了し"
        "ます。 (stopping after the frame on the line; stop again to end at once)\n");
    QByteArray said;
    for (int i = 0; i < stops; ++i) {
        QCOMPARE(::kill(pid_t(process->processId()), signal), 0);
        // Heard before the next comes: two pending signals of a kind are one.
        QVERIFY(QTest::qWaitFor([&] {
            said += process->readAllStandardError();
            return said.startsWith(notice.toUtf8());
        }));
    }
    Result result = finished(*process);
    result.err.prepend(QString::fromUtf8(said));
    QCOMPARE(result.code, 11);
    QVERIFY2(result.err.startsWith(notice), qPrintable(result.err));
    result.err = result.err.sliced(notice.size());
    if (!error.isEmpty())
        QCOMPARE(result.err, error);
    QTest::qWait(200); // anything still under way would reach the relay by now
    const QStringList relay = receivedCommands(sim);
    // No frame after the one on the line; among the frames, wherever the signal landed, some
    // were left unsent.
    if (delay != QLatin1String("0"))
        QCOMPARE(relay.size(), framesSeen);
    else
        QVERIFY2(relay.size() >= framesSeen && relay.size() < kWriteAllFrames.size(),
                 qPrintable(relay.join(u' ')));
    // The log holds every frame sent, and the report names every page the relay got.
    const QStringList lines = readText(log).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(lines.value(0).startsWith(QStringLiteral("# ")));
    QCOMPARE(lines.filter(QStringLiteral("  送信  ")).size(), relay.size());
    if (stops == 1) {
        Outcome relayGot(CommandId::WriteAll, Outcome::Kind::Stopped);
        for (const QString &frame : relay)
            if (frame.startsWith(u'B'))
                relayGot.pagesSent << frame.back().digitValue();
        const QStringList report = messages::stopped(relayGot).split(u'\n');
        QVERIFY2(result.err.startsWith(report[0] + QStringLiteral(" (")), qPrintable(result.err));
        QCOMPARE(result.err.section(u'\n', 1, 1), report[1]);
    }
}

void TestCli::findRelays()
{
    RelaySim relay, silent, held;
    QVERIFY(relay.start());
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    QVERIFY(held.start());
    // Another program holds this one.
    std::unique_ptr<SerialPort> holder(createSerialPort(nullptr));
    holder->setPortName(held.portPath());
    QVERIFY(holder->open());
    QElapsedTimer clock;
    clock.start();
    const Result found = runCli({QStringLiteral("find"), QStringLiteral("--port"),
                                 silent.portPath(), QStringLiteral("--port"), held.portPath(),
                                 QStringLiteral("--port"), relay.portPath()});
    QVERIFY2(clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(found.code, 0);
    QCOMPARE(found.out, relay.portPath() + QStringLiteral("\t012\n"));
    // No port field to set here, so none is named as set.
    QCOMPARE(found.err,
             silent.portPath() + QStringLiteral("\t応答なし (no reply within 3 s)\n") +
                 held.portPath() + u'\t' + text::kPortUnusable +
                 QStringLiteral(" (cannot open: in use by another program, or not there)\n"
                                "1 台のリレーが応答しました。\n"));
    QCOMPARE(receivedCommands(relay), QStringList{"AE0"}); // nothing but the read
    QCOMPARE(receivedCommands(silent), QStringList{"AE0"});

    const Result none =
        runCli({QStringLiteral("find"), QStringLiteral("--port"), silent.portPath()});
    QCOMPARE(none.code, 3);
    QVERIFY(none.out.isEmpty());
}

void TestCli::portLines_data()
{
    QTest::addColumn<PresentPort>("port");
    QTest::addColumn<QString>("line");
    // The first two as they always were: a script that splits name and description off the
    // front reads the same.
    QTest::newRow("nothing known") << PresentPort{QStringLiteral("/dev/ttyS0")} << "/dev/ttyS0";
    QTest::newRow("a description")
        << PresentPort{QStringLiteral("COM1"), QStringLiteral("Communications Port (COM1)")}
        << "COM1\tCommunications Port (COM1)";
    QTest::newRow("a USB adapter")
        << PresentPort{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"),
                       QStringLiteral("FTDI"), QStringLiteral("0403:6001"),
                       QStringLiteral("A50285BI")}
        << "/dev/ttyUSB0\tFT232R USB UART\tFTDI\t0403:6001\tA50285BI";
    QTest::newRow("a serial number alone keeps its column")
        << PresentPort{QStringLiteral("COM7"), {}, {}, {}, QStringLiteral("0001")}
        << "COM7\t\t\t\t0001";
}

void TestCli::portLines()
{
    QFETCH(PresentPort, port);
    QFETCH(QString, line);
    QCOMPARE(cli::portLine(port), line);
    const QJsonObject json = cli::portJson(port);
    const QStringList fields = line.split(u'\t');
    const char *keys[] = {"name", "description", "manufacturer", "usbId", "serialNumber"};
    for (int column = 0; column < 5; ++column)
        QCOMPARE(json[QLatin1String(keys[column])].toString(), fields.value(column));
    QCOMPARE(json["bluetooth"].toBool(true), false);
}

void TestCli::portsListedAlikeInJson()
{
    const Result text = runCli({QStringLiteral("ports")});
    const Result json = runCli({QStringLiteral("ports"), QStringLiteral("--json")});
    QCOMPARE(text.code, 0);
    QCOMPARE(json.code, 0);
    QStringList lines;
    for (const QJsonValue &port : QJsonDocument::fromJson(json.out.toUtf8())["ports"].toArray())
        lines << cli::portLine({port["name"].toString(), port["description"].toString(),
                                port["manufacturer"].toString(), port["usbId"].toString(),
                                port["serialNumber"].toString()}) +
                     u'\n';
    QCOMPARE(lines.join(QString()), text.out);
}

void TestCli::noCommandButTheRecordStartsGui()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(VELTRA_CLI)});
    QVERIFY(ldd.waitForFinished(10000));
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    QVERIFY(libraries.contains(QStringLiteral("libQt6Core")));
    QVERIFY2(!libraries.contains(QStringLiteral("libQt6Widgets")), qPrintable(libraries));
    // Gui is there for site report alone: a platform that cannot open (xcb, and no display)
    // would end any other command that started it.
    QTemporaryDir dir;
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(VELTRA_CLI),
              {QStringLiteral("check"), makeFile(dir.filePath(QStringLiteral("a.DT")), 1)});
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
}

VELTRA_TEST_MAIN(TestCli)
#include "tst_cli.moc"
