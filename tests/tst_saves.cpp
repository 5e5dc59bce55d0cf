#include "cli/cli.h"
#include "endtoend.h"
#include "file/settingsfile.h"
#include "file/sjis.h"
#include "operations/commands.h"
#include "settings/memoryfields.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace veltra;
using namespace veltra::test;

// Every way the tool writes a file, against the faults of the file system: the save either
// completes or leaves what was there byte for byte, and says that it failed.
namespace {

enum class SavePath { WindowSave, WindowSaveEdited, WindowPdf, CliReadOut, CliSetOut };
enum class Fault { FullMedium, MissingFolder, NameIsAFolder, ReadOnlyTarget };

const QByteArray kOldBytes = QByteArrayLiteral("the file as it was\r\n");

// Writes past `bytes` fail in this process while it lives, as on a medium that is full (the
// kernel says EFBIG where a full disk says ENOSPC); the signal that would end the process is
// ignored, as a program that checks its writes ignores it.
class FullMedium
{
public:
    explicit FullMedium(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_before);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_before;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FullMedium()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    FullMedium(const FullMedium &) = delete;
    FullMedium &operator=(const FullMedium &) = delete;

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
};

// A file nobody may replace: mode bits where they count, the immutable flag for root, who
// ignores mode bits. False when this file system offers neither.
bool makeReadOnly(const QString &path, bool readOnly)
{
    if (::geteuid() != 0)
        return QFile::setPermissions(path, readOnly ? QFile::ReadOwner
                                                    : QFile::ReadOwner | QFile::WriteOwner);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the folder holds, names and contents: a cancelled save leaves no temporary file behind.
QMap<QString, QByteArray> folderState(const QString &folder)
{
    QMap<QString, QByteArray> state;
    for (const QFileInfo &entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        state.insert(entry.fileName(),
                     entry.isDir() ? QByteArray("<folder>") : bytesOf(entry.filePath()));
    return state;
}

void fillBothColumns(SettingsFields &fields)
{
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item) {
            const QString text = textOfCode(pageKind(page), item, 1);
            fields.setPresentValue(page, item, text);
            fields.setSetValue(page, item, text);
        }
}

QAction *action(MainWindow &w, const char *name)
{
    return w.findChild<QAction *>(QLatin1String(name));
}

} // namespace

class TestSaves : public QObject
{
    Q_OBJECT
private slots:
    void failedSaveLeavesTheOldFile_data();
    void failedSaveLeavesTheOldFile();
    void savesStillComplete();
    void nothingWhenDeclined_data();
    void nothingWhenDeclined();
};

void TestSaves::failedSaveLeavesTheOldFile_data()
{
    QTest::addColumn<SavePath>("savePath");
    QTest::addColumn<Fault>("fault");
    const std::pair<SavePath, const char *> paths[] = {
        {SavePath::WindowSave, "設定値保存"}, {SavePath::WindowSaveEdited, "編集した設定値を保存"},
        {SavePath::WindowPdf, "PDFに保存"},   {SavePath::CliReadOut, "read -o"},
        {SavePath::CliSetOut, "set -o"},
    };
    const std::pair<Fault, const char *> faults[] = {
        {Fault::FullMedium, "full medium"},
        {Fault::MissingFolder, "missing folder"},
        {Fault::NameIsAFolder, "name is a folder"},
        {Fault::ReadOnlyTarget, "read-only target"},
    };
    for (const auto &[path, pathName] : paths)
        for (const auto &[fault, faultName] : faults)
            QTest::addRow("%s, %s", pathName, faultName) << path << fault;
}

void TestSaves::failedSaveLeavesTheOldFile()
{
    QFETCH(SavePath, savePath);
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("saves"));
    QVERIFY(QDir().mkpath(folder));
    QString target = folder + (savePath == SavePath::WindowPdf ? "/report.pdf" : "/relay.DT");
    switch (fault) {
    case Fault::FullMedium:
    case Fault::ReadOnlyTarget: {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(kOldBytes);
        break;
    }
    case Fault::MissingFolder:
        target = folder + QStringLiteral("/missing/relay.DT");
        break;
    case Fault::NameIsAFolder:
        QVERIFY(QDir().mkpath(target));
        break;
    }
    if (fault == Fault::ReadOnlyTarget && !makeReadOnly(target, true))
        QSKIP("this file system can make no file read-only for this user");
    const QMap<QString, QByteArray> before = folderState(folder);

    // The other side of a save: what it saves from, prepared before the fault.
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> w;
    RelaySim sim;
    const QString source = dir.filePath(QStringLiteral("source.DT"));
    if (savePath == SavePath::CliReadOut) {
        QVERIFY(sim.start());
    } else if (savePath == SavePath::CliSetOut) {
        MemoryFields fields;
        fillBothColumns(fields);
        QVERIFY(writeSettingsFile(source, fields));
    } else {
        w = std::make_unique<MainWindow>(&prompts);
        fillBothColumns(*w);
    }

    QByteArray err;
    cli::Console console;
    console.out = [](const QByteArray &) {};
    console.err = [&err](const QByteArray &text) { err += text; };
    int code = -1;
    {
        // Room for the serial line's lock file, none for a settings file or a report.
        std::optional<FullMedium> full;
        if (fault == Fault::FullMedium)
            full.emplace(200);
        switch (savePath) {
        case SavePath::WindowSave:
            prompts.saveNames << target;
            w->commands().SaveSettingsFile();
            break;
        case SavePath::WindowSaveEdited:
            prompts.saveNames << target;
            w->commands().SaveEditedSettingsFile();
            break;
        case SavePath::WindowPdf:
            prompts.pdfNames << target;
            action(*w, "ActionPdf")->trigger();
            break;
        case SavePath::CliReadOut:
            code = cli::run({"read", "--port", sim.portPath(), "-o", target}, console);
            break;
        case SavePath::CliSetOut:
            code =
                cli::run({"set", source, "3:絶縁監視動作感度設定=50(mA)", "-o", target}, console);
            break;
        }
    }
    if (fault == Fault::ReadOnlyTarget)
        QVERIFY(makeReadOnly(target, false));

    QCOMPARE(folderState(folder), before);
    if (savePath == SavePath::CliReadOut || savePath == SavePath::CliSetOut) {
        QCOMPARE(code, int(cli::kFileError));
        QVERIFY2(err.startsWith("設定値を保存できませんでした。 ("), err.constData());
    } else {
        QCOMPARE(prompts.texts(),
                 QStringList{savePath == SavePath::WindowPdf
                                 ? QStringLiteral("PDFを保存できませんでした。")
                                 : QStringLiteral("設定値を保存できませんでした。")});
    }
}

void TestSaves::savesStillComplete()
{
    // The same paths without a fault replace the old file with the whole new one.
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    fillBothColumns(w);
    const QString dt = dir.filePath(QStringLiteral("relay.DT"));
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    for (const QString &path : {dt, pdf}) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(kOldBytes);
    }
    prompts.saveNames << dt;
    w.commands().SaveSettingsFile();
    prompts.pdfNames << pdf;
    action(w, "ActionPdf")->trigger();
    QVERIFY(prompts.messages.isEmpty());
    QByteArray expected;
    for (const QString &line : settingsFileLines(w))
        expected += *encodeShiftJis(line) + "\r\n";
    QCOMPARE(bytesOf(dt), expected);
    // The report names the file the values were last saved to or loaded from.
    QCOMPARE(w.commands().lastSettingsFile(), QDir::toNativeSeparators(dt));
    const QString edited = dir.filePath(QStringLiteral("edited.DT"));
    prompts.saveNames << edited;
    w.commands().SaveEditedSettingsFile();
    QCOMPARE(w.commands().lastSettingsFile(), QDir::toNativeSeparators(edited));
    prompts.openNames << dt;
    prompts.answers << kAnswerYes;
    w.commands().LoadSettingsFile();
    QCOMPARE(w.commands().lastSettingsFile(), QDir::toNativeSeparators(dt));
    QVERIFY(bytesOf(pdf).startsWith("%PDF-"));
    QVERIFY(bytesOf(pdf).trimmed().endsWith("%%EOF"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

void TestSaves::nothingWhenDeclined_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("設定値保存, the dialog cancelled") << 0;
    QTest::newRow("編集した設定値を保存, the dialog cancelled") << 1;
    QTest::newRow("既存設定値取得, the dialog cancelled") << 2;
    QTest::newRow("既存設定値取得, answered いいえ") << 3;
}

// A cancelled dialog or a No ends a command without a word, and changes nothing: no file,
// no value, not the file the report names.
void TestSaves::nothingWhenDeclined()
{
    QFETCH(int, kind);
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    fillBothColumns(w);
    const QStringList before = settingsFileLines(w, FileColumn::Set);
    MemoryFields other; // a file whose values differ from the window's
    const QString file = dir.filePath(QStringLiteral("other.DT"));
    QVERIFY(writeSettingsFile(file, other, FileColumn::Set));
    switch (kind) {
    case 0:
        w.commands().SaveSettingsFile();
        break;
    case 1:
        w.commands().SaveEditedSettingsFile();
        break;
    case 2:
        w.commands().LoadSettingsFile();
        break;
    case 3:
        prompts.openNames << file;
        w.commands().LoadSettingsFile();
        break;
    }
    QCOMPARE(prompts.messages.size(), kind == 3 ? 1 : 0); // the question alone
    QCOMPARE(w.commands().outcome().kind, Outcome::Kind::Declined);
    QCOMPARE(settingsFileLines(w, FileColumn::Set), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("other.DT")});
    QVERIFY(w.commands().lastSettingsFile().isEmpty());
}

QTEST_MAIN(TestSaves)
#include "tst_saves.moc"
