#include "ui/servicewindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace veltra {
namespace {

QLineEdit *monitorField(const QString &name, const QString &caption, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setAccessibleName(caption);
    field->setMinimumWidth(360);
    return field;
}

} // namespace

ServiceWindow::ServiceWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ServiceWindow"));
    // A window of its own inherits no font from its parent; set before the fields are made,
    // they are laid out once, in the main window's font.
    if (parent)
        setFont(parent->font());
    setWindowTitle(QStringLiteral("VELTRA 通信モニタ"));

    const QString requestCaption = QStringLiteral("送信ｺﾏﾝﾄﾞ(現在値の取得)");
    const QString writeCaption = QStringLiteral("送信ｺﾏﾝﾄﾞ(設定値書換)");
    const QString replyCaption = QStringLiteral("受信ﾃﾞｰﾀ");
    m_text10 = monitorField(QStringLiteral("Text10"), requestCaption, this);
    m_text12 = monitorField(QStringLiteral("Text12"), writeCaption, this);
    m_text11 = monitorField(QStringLiteral("Text11"), replyCaption, this);
    m_station = new QLabel(QStringLiteral("局番号="), this);
    m_station->setObjectName(QStringLiteral("Label10_2"));
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("LineNotice"));
    m_notice->setWordWrap(true);
    m_notice->hide();

    auto *monitor = new QFormLayout;
    monitor->addRow(requestCaption, m_text10);
    monitor->addRow(writeCaption, m_text12);
    monitor->addRow(replyCaption, m_text11);
    monitor->addRow(QString(), m_station);
    monitor->addRow(QString(), m_notice);

    auto *clearBox = new QGroupBox(this);
    auto *group = new QButtonGroup(this);
    const QString optionTexts[2] = {QStringLiteral("動作値ﾃﾞｰﾀｸﾘｱ"),
                                    QStringLiteral("最大値ﾃﾞｰﾀｸﾘｱ")};
    auto *clearRow = new QHBoxLayout(clearBox);
    for (int i = 0; i < 2; ++i) {
        m_options[i] = new QRadioButton(optionTexts[i], clearBox);
        m_options[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        group->addButton(m_options[i], i);
        clearRow->addWidget(m_options[i]);
    }
    m_command11 = new QPushButton(QStringLiteral("ｸﾘｱ実行"), clearBox);
    m_command11->setObjectName(QStringLiteral("Command11"));
    m_command11->setAccessibleName(m_command11->text());
    clearRow->addWidget(m_command11);

    m_verify = new QCheckBox(QStringLiteral("書込後に読み戻して照合"), this);
    m_verify->setObjectName(QStringLiteral("VerifyAfterWrite"));
    m_verify->setToolTip(QStringLiteral(
        "書き込んだページを読み戻し、VELTRAに反映されていない設定値があれば知らせます。"));

    const QString logCaption = QStringLiteral("通信ログ");
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("FrameLog"));
    m_log->setReadOnly(true);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setMaximumBlockCount(FrameLog::kMaxEntries);
    m_log->setAccessibleName(logCaption);
    m_saveLog = new QPushButton(QStringLiteral("ログを保存..."), this);
    m_saveLog->setObjectName(QStringLiteral("SaveLog"));
    m_close = new QPushButton(QStringLiteral("閉じる"), this);
    m_close->setObjectName(QStringLiteral("CloseService"));
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_saveLog);
    buttons->addStretch();
    buttons->addWidget(m_close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(monitor);
    layout->addWidget(clearBox);
    layout->addWidget(m_verify);
    layout->addWidget(new QLabel(logCaption, this));
    layout->addWidget(m_log, 1);
    layout->addLayout(buttons);
}

void ServiceWindow::keyPressEvent(QKeyEvent *event)
{
    // As a dialog does: Esc from any of its fields closes it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

void ServiceWindow::appendLogEntry(const FrameLog::Entry &entry)
{
    m_log->appendPlainText(FrameLog::line(entry, kShownFrameBytes));
}

void ServiceWindow::showLineNotice(const QString &text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

} // namespace veltra
