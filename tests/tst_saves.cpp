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
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace veltra;
using namespace veltra::test;

// Every way the tool writes a file, against the faults of the file system: the save either
// completes or leaves what was there byte for byte, and says that it failed.
namespace {

enum class SavePath {
    WindowSave,
    WindowSaveEdited,
    WindowPdf,
    WindowLog,
    CliReadOut,
    CliSetOut,
    CliLog
};
enum class Fault {
    FullMedium,
    MissingFolder,
    NameIsAFolder,
    ReadOnlyTarget, // immutable: nobody, root included, may replace it
    ReadOnlyMode,   // no write permission, which root could ignore: the tool does not
    Fifo,           // would block an open for writing, and a regular file would replace it
    Device,         // a character device node: replacing /dev/null would break the system
    DanglingLink,   // a link to nowhere: a save would create a file somewhere else
};

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

// What the folder holds, names, kinds, modes and contents: a cancelled save leaves no temporary
// file behind and changes no permission. Nothing but a regular file is opened.
QMap<QString, QByteArray> folderState(const QString &folder)
{
    QMap<QString, QByteArray> state;
    for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                      QDir::Hidden | QDir::System)) {
        const QByteArray path = QFile::encodeName(folder + u'/' + name);
        struct stat info = {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        QByteArray entry = QByteArray::number(info.st_mode, 8) + ' ';
        if (S_ISREG(info.st_mode))
            entry += bytesOf(QString::fromUtf8(path));
        else if (S_ISCHR(info.st_mode))
            entry += QByteArray::number(quint64(info.st_rdev));
        state.insert(name, entry);
    }
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
    void loadNamesMisplacedLines();
};

void TestSaves::failedSaveLeavesTheOldFile_data()
{
    QTest::addColumn<SavePath>("savePath");
    QTest::addColumn<Fault>("fault");
    const std::pair<SavePath, const char *> paths[] = {
        {SavePath::WindowSave, "設定値保存"}, {SavePath::WindowSaveEdited, "編集した設定値を保存"},
        {SavePath::WindowPdf, "PDFに保存"},   {SavePath::WindowLog, "ログを保存"},
        {SavePath::CliReadOut, "read -o"},    {SavePath::CliSetOut, "set -o"},
        {SavePath::CliLog, "read --log"},
    };
    const std::pair<Fault, const char *> faults[] = {
        {Fault::FullMedium, "full medium"},
        {Fault::MissingFolder, "missing folder"},
        {Fault::NameIsAFolder, "name is a folder"},
        {Fault::ReadOnlyTarget, "immutable target"},
        {Fault::ReadOnlyMode, "read-only target"},
        {Fault::Fifo, "FIFO"},
        {Fault::Device, "device node"},
        {Fault::DanglingLink, "link to nowhere"},
    };
    for (const auto &[path, pathName] : paths)
        for (const auto &[fault, faultName] : faults)
            // A log only ever grows: a full medium cuts its new lines, never its old ones.
            if (path != SavePath::CliLog || fault != Fault::FullMedium)
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
    const QByteArray name = QFile::encodeName(target);
    switch (fault) {
    case Fault::FullMedium:
    case Fault::ReadOnlyTarget:
    case Fault::ReadOnlyMode: {
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
    case Fault::Fifo:
        QVERIFY(::mkfifo(name.constData(), 0644) == 0);
        break;
    case Fault::Device: // what /dev/null is
        if (::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("this user may make no device node");
        break;
    case Fault::DanglingLink:
        QVERIFY(QFile::link(folder + QStringLiteral("/nowhere/relay.DT"), target));
        break;
    }
    if (fault == Fault::ReadOnlyMode)
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup));
    if (fault == Fault::ReadOnlyTarget && !makeReadOnly(target, true))
        QSKIP("this file system can make no file read-only for this user");
    const QMap<QString, QByteArray> before = folderState(folder);

    // The other side of a save: what it saves from, prepared before the fault.
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> w;
    RelaySim sim;
    const QString source = dir.filePath(QStringLiteral("source.DT"));
    if (savePath == SavePath::CliReadOut || savePath == SavePath::CliLog) {
        QVERIFY(sim.start());
    } else if (savePath == SavePath::CliSetOut) {
        MemoryFields fields;
        fillBothColumns(fields);
        QCOMPARE(writeSettingsFile(source, fields), FileProblem::None);
    } else {
        w = std::make_unique<MainWindow>(&prompts, dir.filePath(QStringLiteral("no-port")));
        fillBothColumns(*w);
        // Lines in the frame log, so that its save has more to write than a full medium takes.
        for (int page = 0; page < 3; ++page)
            w->commands().readOnePage(page);
        prompts.clear();
    }

    QByteArray err;
    cli::Console console;
    console.out = [](const QByteArray &) {};
    console.err = [&err](const QByteArray &text) { err += text; };
    int code = -1;
    {
        // Room for the serial line's lock file, none for a settings file, a report or a log.
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
            w->commands().saveEditedSettingsFile();
            break;
        case SavePath::WindowPdf:
            prompts.pdfNames << target;
            action(*w, "ActionPdf")->trigger();
            break;
        case SavePath::WindowLog:
            prompts.logNames << target;
            w->saveFrameLog();
            break;
        case SavePath::CliReadOut:
            code = cli::run({"read", "--port", sim.portPath(), "-o", target}, console);
            break;
        case SavePath::CliLog:
            code = cli::run({"read", "--port", sim.portPath(), "--log", target}, console);
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
    if (savePath == SavePath::CliLog) {
        QCOMPARE(code, int(cli::kFileError));
        QVERIFY2(err.startsWith("ログを保存できませんでした。 ("), err.constData());
        QCOMPARE(sim.frames().size(), 0); // refused before anything was sent
    } else if (savePath == SavePath::CliReadOut || savePath == SavePath::CliSetOut) {
        QCOMPARE(code, int(cli::kFileError));
        QVERIFY2(err.startsWith("設定値を保存できませんでした。 ("), err.constData());
        // Refused before the relay is read, but for a medium that fills up only then.
        if (fault != Fault::FullMedium)
            QCOMPARE(sim.frames().size(), 0);
    } else {
        QCOMPARE(prompts.texts(),
                 QStringList{savePath == SavePath::WindowPdf
                                 ? QStringLiteral("PDFを保存できませんでした。")
                             : savePath == SavePath::WindowLog
                                 ? QStringLiteral("ログを保存できませんでした。")
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
    // Replaced, a file keeps the permissions it had.
    const QFile::Permissions kept = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(dt, kept));
    prompts.saveNames << dt;
    w.commands().SaveSettingsFile();
    QCOMPARE(QFile::permissions(dt), kept | QFile::ReadUser | QFile::WriteUser);
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
    w.commands().saveEditedSettingsFile();
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
    QCOMPARE(writeSettingsFile(file, other, FileColumn::Set), FileProblem::None);
    switch (kind) {
    case 0:
        w.commands().SaveSettingsFile();
        break;
    case 1:
        w.commands().saveEditedSettingsFile();
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

// A file whose circuit lines were swapped by hand loads by position, as ever; the question
// before it names the lines, and a file the tool wrote names none.
void TestSaves::loadNamesMisplacedLines()
{
    QTemporaryDir dir;
    MemoryFields fields;
    fillBothColumns(fields);
    fields.setSetValue(2, 1, textOfCode(PageKind::Circuit, 1, 3));
    const QString good = dir.filePath(QStringLiteral("good.DT"));
    QCOMPARE(writeSettingsFile(good, fields, FileColumn::Set), FileProblem::None);
    QList<QByteArray> lines = bytesOf(good).split('\n');
    lines.swapItemsAt(4, 5);
    const QString swapped = dir.filePath(QStringLiteral("swapped.DT"));
    QFile file(swapped);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines.join('\n')) > 0);
    file.close();

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    prompts.openNames << good << swapped;
    prompts.answers << kAnswerYes << kAnswerYes;
    w.commands().LoadSettingsFile();
    QCOMPARE(prompts.messages.value(0).details, QString());
    w.commands().LoadSettingsFile();
    QCOMPARE(prompts.messages.value(2).details,
             QStringLiteral("ラベルが位置と合わない行があります。行の位置のとおりに読み込むため、"
                            "値が別のタブに入ります:\n"
                            "5 行目 「回路２」: 回路１ の行です\n"
                            "6 行目 「回路１」: 回路２ の行です"));
    QCOMPARE(w.setValue(1, 1), textOfCode(PageKind::Circuit, 1, 3)); // by position
}

QTEST_MAIN(TestSaves)
#include "tst_saves.moc"
