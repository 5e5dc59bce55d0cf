#include "ui/mainwindow.h"

#include "file/wholefile.h"
#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/framelog.h"
#include "operations/messages.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "ui/abouttext.h"
#include "ui/changemarks.h"
#include "ui/fonts.h"
#include "ui/helpwindow.h"
#include "ui/messageboxes.h"
#include "ui/porttooltip.h"
#include "ui/reportprinting.h"
#include "ui/servicewindow.h"
#include "ui/settingsreport.h"
#include "ui/sitewindow.h"
#include "ui/windowplacement.h"
#include "version.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace veltra {
namespace {

// Geometry of the classic form, in pixels.
constexpr QSize kClientSize(553, 416);
// The status line below the classic area: one line of the window's font.
constexpr int kStatusLineHeight = 22;
constexpr QRect kTabRect(15, 80, 523, 329);
constexpr QSize kTopButtonSize(112, 25);
constexpr int kPortCount = 10;

struct TopButton
{
    const char *name;
    const char *caption;
    const char *tooltip;
    int row;
    int column;
};

// In keyboard focus order.
constexpr TopButton kTopButtons[] = {
    {"Command12", "全現在設定値取得", "VELTRAの設定値を取得します。", 0, 0},
    {"Command16", "全現在値⇒設定値", "すべての現在値を設定値にコピーします。", 1, 0},
    {"Command13", "全設定値書替", "すべての設定値を一度に書き替えます。", 0, 1},
    {"Command14", "既存設定値取得", "既存の設定ファイルを開きます。", 1, 1},
    {"Command15", "設定値保存", "VELTRAの現在値を保存します。", 1, 2},
};

QFont boldFont()
{
    QFont font = windowFont();
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

QString tabCaption(int page)
{
    return page == kCommonPage ? QStringLiteral("共通設定") : QStringLiteral("回路 %1").arg(page);
}

QString pageHeading(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("すべての回路に共通した項目を設定します");
    return QStringLiteral("回路%1の電気方式・動作感度・動作時限を設定します")
        .arg(fullWidthDigit(page));
}

QString readTooltip(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定値を取得します。");
    return QStringLiteral("回路%1の設定値を取得します。").arg(fullWidthDigit(page));
}

QString writeCaption(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定値書替");
    return QStringLiteral("回路%1設定値書替").arg(fullWidthDigit(page));
}

QString writeTooltip(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定値だけを書き替えます。");
    return QStringLiteral("回路%1の設定値だけを書き換えます。").arg(fullWidthDigit(page));
}

// Control array names of the classic form: Text9/Combo1 for the common page, Text n and
// Combo n+1 for circuit n, Command p+1 for the page's buttons.
QString presentName(int page, int item)
{
    return QStringLiteral("Text%1_%2").arg(page == kCommonPage ? 9 : page).arg(item);
}
QString setName(int page, int item)
{
    return QStringLiteral("Combo%1_%2").arg(page + 1).arg(item);
}
QString pageButtonName(int page, PageAction action)
{
    return QStringLiteral("Command%1_%2").arg(page + 1).arg(int(action));
}

QPushButton *makeButton(const QString &name, const QString &caption, const QString &tooltip,
                        QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setToolTip(tooltip);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

QComboBox *makeEditableCombo(QWidget *parent)
{
    // setEditable() would build each field's drop-down list and a completer over its items
    // before the window shows: for 46 fields, a quarter of the start-up's work. Given a line
    // edit of our own, the combo builds its list when first opened, and no completer for an
    // edit that already holds one: a single placeholder, lent and taken back at once.
    static QPointer<QCompleter> placeholder;
    if (!placeholder)
        placeholder = new QCompleter(QCoreApplication::instance());
    auto *combo = new QComboBox(parent);
    auto *edit = new QLineEdit(combo);
    edit->setCompleter(placeholder);
    combo->setLineEdit(edit);
    // Typed text stays as typed: no completion to a longer entry, no new entries.
    combo->setCompleter(nullptr);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

} // namespace

MainWindow::MainWindow(UserPrompts *prompts, const QString &initialPort, SerialPort *line,
                       QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("VELTRA 設定ソフト Ver." VELTRA_VERSION_SHORT));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont());
    setAcceptDrops(true);

    if (!prompts) {
        m_ownPrompts = std::make_unique<MessageBoxPrompts>(this);
        prompts = m_ownPrompts.get();
    }
    m_prompts = prompts;
    m_port = line ? line : createSerialPort(this);
    m_port->setParent(this);
    m_link = new DeviceLink(*m_port, this);
    m_commands = new Commands(*m_link, *this, *m_prompts, this);
    m_service = new ServiceWindow(this);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("Form1Client"));
    setCentralWidget(central);
    buildTopBand(central);
    buildPages(central);
    // The classic client area stays exactly as it was; the menu bar comes on top of it.
    central->setFixedSize(kClientSize);
    buildMenus();
    // Tabs by keyboard from anywhere in the window, the port field included.
    const std::pair<QKeySequence, int> tabKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto &[keys, step] : tabKeys)
        new QShortcut(keys, this, [this, step = step] {
            const int count = m_tabs->count();
            m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + count) % count);
        });
    buildStatusLine();
    setFixedSize(kClientSize + QSize(0, menuBar()->sizeHint().height() + kStatusLineHeight));

    populateLists(initialPort);
    setTabOrder();
    QList<ChangeMarks::Page> markedPages;
    for (const PageWidgets &w : m_pages)
        markedPages.append({w.present, w.set});
    m_marks = new ChangeMarks(m_tabs, markedPages, this);
    connect(m_commands, &Commands::readingsChanged, this, &MainWindow::refreshReadings);
    connect(m_portCombo, &QComboBox::editTextChanged, this, &MainWindow::refreshReadings);

    // The communication monitor and the station caption show what the link says it did.
    connect(m_link, &DeviceLink::stationAddressed, this, [this](const QByteArray &address) {
        m_service->stationCaption()->setText(
            QStringLiteral("局番号=%1H").arg(QString::fromLatin1(address)));
    });
    connect(m_link, &DeviceLink::requestSent, this, [this](const QByteArray &frame) {
        m_service->requestMonitor()->setText(QString::fromLatin1(frame));
    });
    connect(m_link, &DeviceLink::replyReceived, this, [this](const QByteArray &collected) {
        m_service->replyMonitor()->setText(QString::fromLatin1(collected));
    });
    connect(m_link, &DeviceLink::writeFrameSent, this, [this](const QByteArray &frame) {
        m_service->writeMonitor()->setText(QString::fromLatin1(frame));
    });
    // What the line says about itself shows with the communication monitor.
    connect(m_port, &SerialPort::notice, m_service, [this](const LineNotice &notice) {
        const QString text = messages::lineNotice(notice);
        // The category decides, but the line goes to stderr as UTF-8 itself: Qt's handler sends
        // it to the debugger when no console is attached (Wine with stderr in a file) and
        // otherwise through the ANSI code page, which has no kana under Wine.
        if (lcLink().isInfoEnabled()) {
            std::fprintf(stderr, "%s\n", text.toUtf8().constData());
            std::fflush(stderr);
        }
        m_service->showLineNotice(text);
    });
    connect(m_port, &SerialPort::refused, m_service,
            [this](const QString &why) { m_service->showLineNotice(messages::lineRefused(why)); });
    m_frameLog = new FrameLog(this);
    m_frameLog->follow(*m_link);
    m_frameLog->follow(m_commands->finder());
    connect(m_frameLog, &FrameLog::entryAdded, m_service, &ServiceWindow::appendLogEntry);
    connect(m_service->saveLogButton(), &QPushButton::clicked, this, &MainWindow::saveFrameLog);
    connect(m_service->clearButton(), &QPushButton::clicked, m_commands, &Commands::ClearValues);
    connect(m_service->verifyOption(), &QCheckBox::toggled, m_commands,
            &Commands::setVerifyAfterWrite);
    connect(m_commands, &Commands::verifyAfterWriteChanged, m_service->verifyOption(),
            &QCheckBox::setChecked);
    // A close requested while a command waited takes effect once the command has ended.
    connect(m_commands, &Commands::idle, this, [this] {
        if (m_commands->shuttingDown())
            emit exitRequested();
    });
}

MainWindow::~MainWindow()
{
    // Widgets go before the seams they call into.
    delete m_help;
}

void MainWindow::buildStatusLine()
{
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusLine"));
    m_status->setTextFormat(Qt::PlainText); // a port name is text, never markup
    QStatusBar *bar = statusBar();
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusLineHeight);
    bar->addWidget(m_status, 1);
    m_waitTimer.setInterval(100);
    connect(&m_waitTimer, &QTimer::timeout, this, [this] {
        // Only a wait worth noticing: a relay answers in tens of milliseconds.
        if (m_waitClock.elapsed() >= 300)
            showStatus(m_progress + QStringLiteral("　") +
                       messages::waitingForReply(double(m_waitClock.elapsed()) / 1000));
    });
    connect(m_commands, &Commands::progressed, this, [this](Progress kind, int done, int total) {
        m_progress = messages::progress(kind, done, total);
        showStatus(m_progress);
    });
    connect(m_link, &DeviceLink::requestSent, this, [this] {
        m_waitClock.start();
        m_waitTimer.start();
    });
    connect(m_link, &DeviceLink::replyReceived, this, [this] {
        m_waitTimer.stop();
        showStatus(m_progress);
    });
    connect(&m_commands->finder(), &RelayFinder::stillWaiting, this,
            [this](const QStringList &ports) { showStatus(messages::searchingForRelays(ports)); });
    // At rest again as soon as the outcome is known, not only once its box is closed.
    auto toRest = [this] {
        m_waitTimer.stop();
        m_progress.clear();
        refreshStatus(true);
    };
    connect(m_commands, &Commands::concluded, this, &MainWindow::recordOutcome);
    connect(m_commands, &Commands::concluded, this, toRest);
    connect(m_commands, &Commands::idle, this, toRest);
    // Esc ends a read-all between two pages, or a relay search; never a write.
    refreshStatus();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Esc, from any control of this window that has no use for it, ends a read-all between
    // two pages or a relay search; never a write. The 通信モニタ window's Esc closes it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        m_commands->requestStop();
    else
        QMainWindow::keyPressEvent(event);
}

void MainWindow::showStatus(const QString &text)
{
    m_status->setText(text);
    // A screen reader hears each new state: the name changes with it.
    m_status->setAccessibleName(QStringLiteral("状態: ") + text);
}

void MainWindow::refreshStatus(bool concluded)
{
    if (m_commands->busy() && !concluded)
        return;
    int older = 0;
    for (int page = 0; page < kPageCount; ++page)
        older += m_commands->presentValuesOlder(page) ? 1 : 0;
    QString text =
        messages::presentValuesStatus(m_commands->readings(), older, m_commands->station(),
                                      shownFingerprint(fingerprint([this](int page, int item) {
                                          return presentValue(page, item);
                                      })));
    if (m_commands->outcome().kind == Outcome::Kind::Stopped)
        text = messages::stoppedStatus(m_commands->outcome()) + QStringLiteral("　") + text;
    showStatus(text);
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MenuBar"));
    auto add = [this](QMenu *menu, const char *name, const QString &text,
                      const QKeySequence &keys = {}) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        return action;
    };

    QMenu *file = bar->addMenu(QStringLiteral("ファイル(&F)"));
    connect(add(file, "ActionOpen", QStringLiteral("設定ファイルを開く..."), QKeySequence::Open),
            &QAction::triggered, m_commands, &Commands::LoadSettingsFile);
    connect(add(file, "ActionSave", QStringLiteral("設定値を保存..."), QKeySequence::Save),
            &QAction::triggered, m_commands, &Commands::SaveSettingsFile);
    // Values chosen by hand or loaded and changed, kept without a relay.
    connect(add(file, "ActionSaveEdited", QStringLiteral("編集した設定値を保存..."),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)),
            &QAction::triggered, m_commands, &Commands::saveEditedSettingsFile);
    file->addSeparator();
    connect(add(file, "ActionOpenSite", QStringLiteral("サイトを開く...")), &QAction::triggered,
            this, &MainWindow::openSite);
    file->addSeparator();
    connect(add(file, "ActionPrint", QStringLiteral("印刷..."), QKeySequence::Print),
            &QAction::triggered, this, &MainWindow::printReport);
    connect(add(file, "ActionPdf", QStringLiteral("PDFに保存...")), &QAction::triggered, this,
            &MainWindow::saveReportAsPdf);
    file->addSeparator();
    connect(add(file, "ActionQuit", QStringLiteral("終了"), QKeySequence(Qt::CTRL | Qt::Key_Q)),
            &QAction::triggered, this, &MainWindow::exitButton);

    QMenu *link = bar->addMenu(QStringLiteral("通信(&C)"));
    connect(
        add(link, "ActionReadAll", QStringLiteral("全現在設定値取得"), QKeySequence(Qt::Key_F5)),
        &QAction::triggered, m_commands, &Commands::ReadAllPages);
    connect(add(link, "ActionCopyAll", QStringLiteral("全現在値⇒設定値")), &QAction::triggered,
            m_commands, &Commands::CopyAllPresentToSet);
    // No shortcut: a write should never be one stray key away.
    connect(add(link, "ActionWriteAll", QStringLiteral("全設定値書替")), &QAction::triggered,
            m_commands, &Commands::WriteAllPages);
    link->addSeparator();
    QAction *verify = add(link, "ActionVerify", QStringLiteral("書込後に読み戻して照合"));
    verify->setCheckable(true);
    connect(verify, &QAction::toggled, m_commands, &Commands::setVerifyAfterWrite);
    connect(m_commands, &Commands::verifyAfterWriteChanged, verify, &QAction::setChecked);
    connect(add(link, "ActionFindRelay", QStringLiteral("リレーを探す")), &QAction::triggered, this,
            &MainWindow::findRelay);
    connect(add(link, "ActionMonitor", QStringLiteral("通信モニタ"),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)),
            &QAction::triggered, this, &MainWindow::showServiceWindow);

    QMenu *help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    connect(add(help, "ActionHelp", QStringLiteral("ヘルプ"), QKeySequence(Qt::Key_F1)),
            &QAction::triggered, this, &MainWindow::showHelp);
    connect(add(help, "ActionAbout", QStringLiteral("バージョン情報")), &QAction::triggered, this,
            &MainWindow::showAbout);
}

void MainWindow::openSite()
{
    if (const std::optional<QString> path = m_prompts->openSiteFileName())
        openSiteFile(*path);
}

void MainWindow::openSiteFile(const QString &path)
{
    if (!m_siteWindow)
        m_siteWindow = new SiteWindow(*this, *m_prompts, {}, this);
    if (m_siteWindow->busy()) {
        m_siteWindow->raise();
        return;
    }
    m_siteWindow->openSite(path);
    m_siteWindow->show();
    m_siteWindow->raise();
    m_siteWindow->activateWindow();
}

ReportInfo MainWindow::reportInfo(const QDateTime &created) const
{
    ReportInfo info;
    info.created = created;
    const std::optional<QString> device = systemPortName(portText());
    info.port = device && *device != portText() ? QStringLiteral("%1 (%2)").arg(portText(), *device)
                                                : portText();
    info.station = m_commands->station();
    info.readings = m_commands->readings();
    info.lastWrite = m_lastWrite;
    info.lastWriteTime = m_lastWriteTime;
    info.settingsFile = m_commands->lastSettingsFile();
    info.settingsFileEdited = !info.settingsFile.isEmpty() && allSetValues() != m_fileSetValues;
    for (int page = 0; page < kPageCount; ++page)
        if (m_commands->presentValuesOlder(page))
            info.olderNotes[std::size_t(page)] =
                messages::olderPresentValues(*m_commands->reading(page), info.port);
    return info;
}

void MainWindow::recordOutcome()
{
    const Outcome &outcome = m_commands->outcome();
    switch (outcome.command) {
    case CommandId::WritePage:
    case CommandId::WriteAll:
    case CommandId::Clear:
        // A write refused or declined sent nothing: the one before it still stands.
        if (outcome.kind != Outcome::Kind::Declined &&
            outcome.kind != Outcome::Kind::InvalidSetValues &&
            outcome.kind != Outcome::Kind::NothingToClear) {
            m_lastWrite = outcome;
            m_lastWriteTime = QDateTime::currentDateTime();
        }
        break;
    case CommandId::Save:
    case CommandId::SaveEdited:
    case CommandId::Load:
        if (outcome.succeeded())
            m_fileSetValues = allSetValues();
        break;
    default:
        break;
    }
}

QStringList MainWindow::allSetValues() const
{
    QStringList values;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            values << setValue(page, item);
    return values;
}

void MainWindow::printReport()
{
    // A modal dialog inside a wait for the relay would hold the wait up until it closed.
    if (m_commands->busy())
        return;
    previewReport(SettingsReport(*this, reportInfo(QDateTime::currentDateTime())), this);
}

void MainWindow::saveReportAsPdf()
{
    if (m_commands->busy())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const std::optional<QString> path =
        m_prompts->savePdfFileName(SettingsReport::defaultPdfName(now));
    if (path && !saveReportPdf(SettingsReport(*this, reportInfo(now)), *path))
        m_prompts->ShowMessage(messages::pdfSaveFailed(), kStyleNotice);
}

void MainWindow::showAbout()
{
    m_prompts->showAbout(aboutText());
}

void MainWindow::buildTopBand(QWidget *central)
{
    auto *portFrame = new QFrame(central);
    portFrame->setObjectName(QStringLiteral("PortFrame"));
    portFrame->setGeometry(8, 8, 156, 34);
    portFrame->setStyleSheet(QStringLiteral("#PortFrame { border: 1px solid rgb(128,128,128); }"));

    auto *portLabel = new QLabel(QStringLiteral("COMポート"), central);
    portLabel->setObjectName(QStringLiteral("Label10_0"));
    portLabel->setFont(boldFont());
    portLabel->setGeometry(14, 14, 80, 22);

    m_portCombo = makeEditableCombo(central);
    m_portCombo->setObjectName(QStringLiteral("Combo10"));
    m_portCombo->setFont(boldFont());
    m_portCombo->setToolTip(QStringLiteral("パソコンのRS-232のポートを選択します。"));
    // Filled in anew each time it is shown: ports come and go with USB adapters.
    m_portCombo->installEventFilter(this);
    m_portCombo->setAccessibleName(QStringLiteral("COMポート"));
    m_portCombo->setGeometry(96, 13, 62, 24);
    portLabel->setBuddy(m_portCombo);

    const QPoint gridOrigin(176, 12);
    const int columnStep = kTopButtonSize.width() + 8;
    const int rowStep = kTopButtonSize.height() + 8;
    auto place = [&](QPushButton *button, int row, int column) {
        button->setGeometry(
            QRect(gridOrigin + QPoint(column * columnStep, row * rowStep), kTopButtonSize));
    };
    for (const TopButton &def : kTopButtons) {
        auto *button = makeButton(QString::fromUtf8(def.name), QString::fromUtf8(def.caption),
                                  QString::fromUtf8(def.tooltip), central);
        place(button, def.row, def.column);
        m_topButtons << button;
    }
    connect(m_topButtons[0], &QPushButton::clicked, m_commands, &Commands::ReadAllPages);
    connect(m_topButtons[1], &QPushButton::clicked, m_commands, &Commands::CopyAllPresentToSet);
    connect(m_topButtons[2], &QPushButton::clicked, m_commands, &Commands::WriteAllPages);
    connect(m_topButtons[3], &QPushButton::clicked, m_commands, &Commands::LoadSettingsFile);
    connect(m_topButtons[4], &QPushButton::clicked, m_commands, &Commands::SaveSettingsFile);

    m_helpButton = makeButton(QStringLiteral("Command17"), QStringLiteral("ヘルプ"),
                              QStringLiteral("ヘルプを表示します。"), central);
    m_helpButton->setGeometry(8, 48, 156, kTopButtonSize.height());
    connect(m_helpButton, &QPushButton::clicked, this, &MainWindow::showHelp);

    m_exitButton = makeButton(QStringLiteral("Command10"), QStringLiteral("終了"),
                              QStringLiteral("このソフトを終了します。"), central);
    m_exitButton->setFont(boldFont());
    place(m_exitButton, 0, 2);
    connect(m_exitButton, &QPushButton::clicked, this, &MainWindow::exitButton);
}

void MainWindow::buildPages(QWidget *central)
{
    m_tabs = new DottedTabWidget(central);
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    m_tabs->setGeometry(kTabRect);
    m_tabs->setUsesScrollButtons(false);
    m_tabs->tabBar()->setExpanding(true);
    // Nine captions in one row on a 523 px control: keep the tabs narrow. On the bar alone, so
    // the pages keep the window's own style and font.
    m_tabs->tabBar()->setStyleSheet(QStringLiteral(
        "QTabBar::tab { padding: 4px 6px; margin-right: 1px; border: 1px solid #a0a0a0;"
        " border-bottom: none; background: #e4e4e4; }"
        "QTabBar::tab:selected { background: #ffffff; }"));
    for (int page = 0; page < kPageCount; ++page) {
        // In its tab before it is filled: the fields are laid out once, in the window's font.
        auto *widget = new QWidget;
        m_tabs->addTab(widget, tabCaption(page));
        buildPage(page, widget);
    }
    m_tabs->setCurrentIndex(kCommonPage);
}

void MainWindow::buildPage(int page, QWidget *widget)
{
    widget->setObjectName(QStringLiteral("Page%1").arg(page));
    widget->setAccessibleName(tabCaption(page));
    const PageKind kind = pageKind(page);
    PageWidgets &w = m_pages[std::size_t(page)];

    auto *heading = new QLabel(pageHeading(page), widget);
    heading->setObjectName(QStringLiteral("Heading%1").arg(page));
    QFont headingFont = boldFont();
    headingFont.setUnderline(true);
    heading->setFont(headingFont);
    QPalette headingColours; // the text's colour alone; the rest follows the window
    headingColours.setColor(QPalette::WindowText, QColor(0, 0, 255));
    heading->setPalette(headingColours);
    heading->setGeometry(12, 8, 490, 20);

    constexpr int labelX = 10, presentX = 180, buttonX = 292, setX = 410;
    constexpr int fieldWidth = 96, setWidth = 100, firstRowY = 58, rowStep = 30;
    auto *presentHeading = new QLabel(QStringLiteral("現在値"), widget);
    presentHeading->setGeometry(presentX, 34, fieldWidth, 18);
    presentHeading->setAlignment(Qt::AlignCenter);
    auto *setHeading = new QLabel(QStringLiteral("設定値"), widget);
    setHeading->setGeometry(setX, 34, setWidth, 18);
    setHeading->setAlignment(Qt::AlignCenter);

    const int count = itemCount(kind);
    for (int item = 0; item < count; ++item) {
        w.present << nullptr;
        w.set << nullptr;
    }
    for (int row = 0; row < count; ++row) {
        const int item = itemAtScreenRow(kind, row);
        const int y = firstRowY + row * rowStep;
        const QString label = rowLabel(kind, item);
        auto *caption = new QLabel(label, widget);
        caption->setGeometry(labelX, y, presentX - labelX - 4, 22);

        auto *present = new QLineEdit(notLoadedText(), widget);
        present->setObjectName(presentName(page, item));
        present->setReadOnly(true);
        present->setAccessibleName(label + QStringLiteral(" 現在値"));
        present->setGeometry(presentX, y, fieldWidth, 22);
        w.present[item] = present;

        QComboBox *set = makeEditableCombo(widget);
        set->setObjectName(setName(page, item));
        set->setAccessibleName(label + QStringLiteral(" 設定値"));
        set->setGeometry(setX, y, setWidth, 22);
        set->setEditText(notLoadedText());
        w.set[item] = set;
    }

    // Copy, write and read, stacked between the two columns from the top.
    struct PageButton
    {
        PageAction action;
        QString caption;
        QString tooltip;
        int y;
    };
    const PageButton buttons[] = {
        {PageAction::Copy, QStringLiteral("現在値⇒設定値"),
         QStringLiteral("現在値を設定値にコピーします。"), firstRowY},
        {PageAction::Write, writeCaption(page), writeTooltip(page), firstRowY + 40},
        {PageAction::Read, QStringLiteral("現在設定値取得"), readTooltip(page), firstRowY + 2 * 40},
    };
    for (const PageButton &b : buttons) {
        QPushButton *button =
            makeButton(pageButtonName(page, b.action), b.caption, b.tooltip, widget);
        button->setGeometry(buttonX, b.y, 108, 26);
        connect(button, &QPushButton::clicked, m_commands,
                [this, page, action = b.action] { m_commands->pageButton(page, action); });
        w.buttons[std::size_t(b.action)] = button;
    }
    // Shown once the lists are filled.
    w.button(PageAction::Read)->hide();
}

void MainWindow::populateLists(const QString &initialPort)
{
    for (int n = 1; n <= kPortCount; ++n)
        m_portCombo->addItem(QString::number(n));
    m_portCombo->setEditText(initialPort.isEmpty() ? QStringLiteral("1") : initialPort);

    for (int page = 0; page < kPageCount; ++page) {
        const PageKind kind = pageKind(page);
        for (int item = 0; item < itemCount(kind); ++item) {
            QComboBox *combo = m_pages[std::size_t(page)].set[item];
            combo->addItems(valueList(kind, item));
            combo->setCurrentIndex(-1);
            combo->setEditText(notLoadedText());
        }
    }
    for (PageWidgets &w : m_pages)
        w.button(PageAction::Read)->show();
}

void MainWindow::setTabOrder()
{
    QList<QWidget *> order{m_portCombo};
    order << m_topButtons[0] << m_topButtons[1] << m_topButtons[2] << m_topButtons[3]
          << m_topButtons[4] << m_helpButton << m_exitButton << m_tabs;
    for (int page = 0; page < kPageCount; ++page) {
        const PageWidgets &w = m_pages[std::size_t(page)];
        order << w.button(PageAction::Copy) << w.button(PageAction::Write);
        for (int row = 0; row < w.set.size(); ++row)
            order << w.set[itemAtScreenRow(pageKind(page), row)];
    }
    for (int page = 0; page < kPageCount; ++page) {
        const PageWidgets &w = m_pages[std::size_t(page)];
        for (int row = 0; row < w.present.size(); ++row)
            order << w.present[itemAtScreenRow(pageKind(page), row)];
    }
    for (const PageWidgets &w : m_pages)
        order << w.button(PageAction::Read);
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

QString MainWindow::presentValue(int page, int item) const
{
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return {};
    return m_pages[std::size_t(page)].present[item]->text();
}

void MainWindow::setPresentValue(int page, int item, const QString &text)
{
    if (isSettingsPage(page) && item >= 0 && item < itemCount(page))
        m_pages[std::size_t(page)].present[item]->setText(text);
}

QString MainWindow::setValue(int page, int item) const
{
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return {};
    return m_pages[std::size_t(page)].set[item]->currentText();
}

void MainWindow::setSetValue(int page, int item, const QString &text)
{
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return;
    QComboBox *combo = m_pages[std::size_t(page)].set[item];
    // The field takes the text as it stands, list entry or not.
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    combo->setEditText(text);
}

bool MainWindow::clearOptionSelected(int index) const
{
    return (index == 0 || index == 1) && m_service->clearOption(index)->isChecked();
}

QString MainWindow::portText() const
{
    return m_portCombo->currentText();
}

void MainWindow::setPortText(const QString &text)
{
    m_portCombo->setEditText(text);
}

void MainWindow::setBusyPointer(bool busy)
{
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void MainWindow::refreshReadings()
{
    const QString portNow = systemPortName(portText()).value_or(portText());
    for (int page = 0; page < kPageCount; ++page) {
        const bool older = m_commands->presentValuesOlder(page);
        const QString why =
            older ? messages::olderPresentValues(*m_commands->reading(page), portNow) : QString();
        QPalette colours; // the text's colour alone; the rest follows the window
        if (older)
            colours.setColor(QPalette::Text, olderTextColor());
        for (QLineEdit *field : m_pages[std::size_t(page)].present) {
            if (field->toolTip() == why)
                continue;
            field->setPalette(colours);
            field->setToolTip(why);
            field->setAccessibleDescription(why);
        }
    }
    refreshStatus();
}

QColor MainWindow::olderTextColor()
{
    return QColor(128, 128, 128);
}

void MainWindow::showHelp()
{
    if (!m_help) {
        m_help = new HelpWindow;
        m_help->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void MainWindow::findRelay()
{
    // Whatever the field names too: a port the system does not list, a Bluetooth one.
    showStatus(messages::searchingForRelays());
    m_commands->findRelays(relaySearchPorts(presentPorts(), {portText()}));
}

void MainWindow::showServiceWindow()
{
    // The first time beside the window, not at the screen's corner; then where it was left.
    if (!std::exchange(m_servicePlaced, true)) {
        m_service->adjustSize();
        const QScreen *screen = this->screen();
        m_service->move(
            placeBeside(frameGeometry(), m_service->frameGeometry().size(),
                        screen ? std::optional(screen->availableGeometry()) : std::nullopt));
    }
    m_service->show();
    m_service->raise();
    m_service->activateWindow();
}

void MainWindow::saveFrameLog()
{
    const std::optional<QString> path =
        m_prompts->saveLogFileName(QDateTime::currentDateTime().toString(
            QStringLiteral("'VELTRA通信ログ_'yyyyMMdd_HHmm'.txt'")));
    if (path && saveWholeFile(*path, m_frameLog->text().toUtf8()) != FileProblem::None)
        m_prompts->ShowMessage(messages::logSaveFailed(), kStyleNotice);
}

void MainWindow::exitButton()
{
    if (!m_commands->CloseAndExit())
        return;
    m_exiting = true;
    hide();
    emit exitRequested();
}

namespace {

// The one local settings file a drag carries, or nothing.
std::optional<QString> droppedSettingsFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return std::nullopt;
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (!path.endsWith(QLatin1String(".DT"), Qt::CaseInsensitive))
        return std::nullopt;
    return path;
}

} // namespace

void MainWindow::openSettingsFileLater(const QString &path)
{
    // Deferred: the confirmation is modal, and neither a drop nor start-up should wait on it.
    QTimer::singleShot(0, this, [this, path] { loadDroppedFile(path); });
}

void MainWindow::loadDroppedFile(const QString &path)
{
    // A command waiting on the relay would ignore the load: say so rather than drop it unseen,
    // in a box that does not hold that wait up.
    if (m_commands->busy()) {
        m_prompts->showNotice(messages::notLoadedWhileBusy(QFileInfo(path).fileName()));
        return;
    }
    m_commands->loadSettingsFileFrom(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedSettingsFile(event->mimeData()))
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = droppedSettingsFile(event->mimeData());
    if (!path)
        return;
    event->acceptProposedAction();
    openSettingsFileLater(*path);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_portCombo && event->type() == QEvent::ToolTip)
        m_portCombo->setToolTip(portFieldToolTip(m_portCombo->currentText(), presentPorts()));
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    if (m_commands->busy()) {
        // The command is inside a wait further up this stack: end the wait, and leave once
        // the command has unwound.
        event->ignore();
        hide();
        m_commands->shutDown();
        return;
    }
    m_exiting = true;
    event->accept();
    emit exitRequested();
}

} // namespace veltra
