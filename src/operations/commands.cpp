#include "operations/commands.h"

#include "link/devicelink.h"
#include "operations/messages.h"
#include "operations/userprompts.h"
#include "settings/changes.h"
#include "settings/items.h"
#include "settings/settingsfields.h"
#include "settings/validation.h"

namespace veltra {
namespace {

QString writeConfirmation(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定を書き換えます。よろしいですか？");
    return QStringLiteral("回路%1の設定を書き換えます。よろしいですか？").arg(fullWidthDigit(page));
}

} // namespace

Commands::Commands(DeviceLink &link, SettingsFields &fields, UserPrompts &prompts, QObject *parent)
    : QObject(parent), m_link(link), m_fields(fields), m_prompts(prompts)
{}

template<typename Fn> void Commands::runExclusive(Fn &&command)
{
    // Waits run the event loop, so a click can arrive while a command is under way.
    if (m_busy || m_shuttingDown)
        return;
    m_busy = true;
    command();
    m_busy = false;
    emit idle();
}

void Commands::shutDown()
{
    m_shuttingDown = true;
    m_link.abortWaits();
}

int Commands::ShowMessage(const QString &text, int style)
{
    // Once the window is closing nobody is there to answer.
    if (m_shuttingDown)
        return style == kStyleConfirm ? kAnswerNo : kAnswerOk;
    return m_prompts.ShowMessage(text, style);
}

void Commands::reportLinkError()
{
    const QString message = DeviceLink::linkErrorMessage(m_link.linkError());
    if (!message.isEmpty())
        ShowMessage(message, kStyleNotice);
}

void Commands::endTransactionCommand()
{
    m_fields.setBusyPointer(false);
    m_link.resetLinkError();
}

void Commands::pageButton(int page, int index)
{
    runExclusive([&] {
        m_settingsPage = page;
        switch (index) {
        case 0:
            readPageCommand(page);
            break;
        case 1:
            copyPageCommand(page);
            break;
        case 2:
            WritePage(page);
            break;
        default:
            break;
        }
    });
}

void Commands::ReadPage(int page)
{
    m_link.ReadTransaction(page);
    if (m_link.linkError() != kLinkOk) {
        reportLinkError();
        return;
    }
    DecodeReply(page, m_link.lastReply(), m_records, m_fields);
}

void Commands::readPageCommand(int page)
{
    ReadPage(page);
    if (m_link.linkError() == kLinkOk)
        ShowMessage(messages::pageRead(page), kStyleNotice);
    endTransactionCommand();
}

void Commands::ReadAllPages()
{
    runExclusive([&] {
        m_fields.setBusyPointer(true);
        for (int page = 0; page < kPageCount; ++page) {
            ReadPage(page);
            if (m_link.linkError() != kLinkOk) {
                endTransactionCommand();
                return;
            }
        }
        m_fields.setBusyPointer(false);
        ShowMessage(messages::allRead(), kStyleNotice);
    });
}

void Commands::copyPageCommand(int page)
{
    m_invalidValueFlag = 0;
    CopyPresentToSet(page, m_fields, m_invalidValueFlag);
    if (m_invalidValueFlag == -1)
        ShowMessage(messages::invalidPresentValues(), kStyleNotice);
}

void Commands::CopyAllPresentToSet()
{
    runExclusive([&] {
        m_invalidValueFlag = 0;
        for (int page = 0; page < kPageCount; ++page)
            CopyPresentToSet(page, m_fields, m_invalidValueFlag);
        if (m_invalidValueFlag == -1)
            ShowMessage(messages::invalidPresentValues(), kStyleNotice);
    });
}

bool Commands::checkSetValuesBeforeWrite(int firstPage, int lastPage)
{
    m_invalidValueFlag = 0;
    for (int page = firstPage; page <= lastPage; ++page)
        CheckSetValues(page, m_fields, m_invalidValueFlag);
    // The station number has no frame form unless it is a whole number 0..255.
    if (firstPage == kCommonPage &&
        !stationNumberValue(m_fields.setValue(kCommonPage, kStationItem)))
        m_invalidValueFlag = -1;
    if (m_invalidValueFlag == -1) {
        ShowMessage(messages::invalidSetValues(), kStyleNotice);
        return false;
    }
    return true;
}

bool Commands::linkCheck()
{
    // The only sign that the relay is there: writes and clears are never answered.
    m_link.ReadTransaction(kCommonPage);
    if (m_link.linkError() != kLinkOk) {
        reportLinkError();
        return false;
    }
    if (m_invalidValueFlag == -1) {
        ShowMessage(messages::invalidPresentValues(), kStyleNotice);
        return false;
    }
    return true;
}

bool Commands::sendFrame(int page)
{
    if (m_link.SendWriteFrame(page))
        return true;
    // Nothing went out: going on would report a failed write as finished.
    ShowMessage(DeviceLink::linkErrorMessage(kLinkPortUnusable), kStyleNotice);
    return false;
}

void Commands::WritePage(int page)
{
    if (!checkSetValuesBeforeWrite(page, page))
        return;
    if (ShowMessage(writeConfirmation(page), kStyleConfirm) == kAnswerYes) {
        m_fields.setBusyPointer(true);
        if (linkCheck() && sendFrame(page))
            reportWritten(page, page);
    }
    endTransactionCommand();
}

void Commands::WriteAllPages()
{
    runExclusive([&] {
        if (!checkSetValuesBeforeWrite(kCommonPage, kPageCount - 1))
            return;
        if (ShowMessage(
                QStringLiteral(
                    "VELTRAの共通設定とすべての回路の設定を一度に書き換えます。よろしいですか？"),
                kStyleConfirm) != kAnswerYes)
            return;
        m_fields.setBusyPointer(true);
        bool written = linkCheck();
        for (int page = 0; written && page < kPageCount && !m_shuttingDown; ++page) {
            m_settingsPage = page;
            written = sendFrame(page);
            if (written)
                m_link.pacingPause();
        }
        if (written && !m_shuttingDown)
            reportWritten(kCommonPage, kPageCount - 1);
        endTransactionCommand();
    });
}

void Commands::setVerifyAfterWrite(bool on)
{
    if (on == m_verifyAfterWrite)
        return;
    m_verifyAfterWrite = on;
    emit verifyAfterWriteChanged(on);
}

void Commands::reportWritten(int firstPage, int lastPage)
{
    if (m_verifyAfterWrite)
        verifyWritten(firstPage, lastPage);
    else
        ShowMessage(messages::written(), kStyleNotice);
}

void Commands::verifyWritten(int firstPage, int lastPage)
{
    // The relay answers no write: only reading the pages back shows what it took. The last
    // frame has had its pause once write-all is here; a single page has not.
    if (firstPage == lastPage)
        m_link.pacingPause();
    for (int page = firstPage; page <= lastPage && !m_shuttingDown; ++page) {
        ReadPage(page);
        if (m_link.linkError() != kLinkOk)
            return; // its usual message is out; the write is not repeated
    }
    if (m_shuttingDown)
        return;
    QStringList differences;
    for (int page = firstPage; page <= lastPage; ++page) {
        const PageKind kind = pageKind(page);
        const QString pageName = page == kCommonPage
                                     ? QStringLiteral("共通設定")
                                     : QStringLiteral("回路%1").arg(fullWidthDigit(page));
        for (int row = 0; row < itemCount(kind); ++row) {
            const int item = itemAtScreenRow(kind, row);
            const QString written = m_fields.setValue(page, item);
            const QString present = m_fields.presentValue(page, item);
            if (!sameValue(page, item, written, present))
                differences << QStringLiteral("%1 %2: 設定 %3 / 現在 %4")
                                   .arg(pageName, rowLabel(kind, item), written, present);
        }
    }
    if (differences.isEmpty()) {
        ShowMessage(messages::verified(), kStyleNotice);
        return;
    }
    differences << messages::notTaken();
    ShowMessage(differences.join(u'\n'), kStyleNotice);
}

void Commands::ClearValues()
{
    runExclusive([&] {
        m_settingsPage = kClearPage;
        const bool operationValues = m_fields.clearOptionSelected(0);
        const bool maximumValues = m_fields.clearOptionSelected(1);
        if (!operationValues && !maximumValues) {
            // Without a choice there is nothing to confirm and nothing worth sending.
            ShowMessage(QStringLiteral("クリアするデータを選択してください。"), kStyleNotice);
            return;
        }
        const QString confirmation = operationValues
                                         ? QStringLiteral("動作値をクリアします。よろしいですか？")
                                         : QStringLiteral("最大値をクリアします。よろしいですか？");
        if (ShowMessage(confirmation, kStyleConfirm) == kAnswerYes) {
            m_fields.setBusyPointer(true);
            m_link.ReadTransaction(kCommonPage);
            if (m_link.linkError() != kLinkOk) {
                reportLinkError();
            } else if (sendFrame(kClearPage)) {
                // The options may have changed during the link check: report what was sent.
                ShowMessage(messages::clearSent(m_fields.clearOptionSelected(0)), kStyleNotice);
            }
        }
        endTransactionCommand();
    });
}

void Commands::SaveSettingsFile()
{
    runExclusive([&] { saveSettingsFileCommand(); });
}

void Commands::LoadSettingsFile()
{
    runExclusive([&] { loadSettingsFileCommand(); });
}

void Commands::LoadSettingsFileFrom(const QString &path)
{
    runExclusive([&] { loadSettingsFileFrom(path); });
}

bool Commands::CloseAndExit()
{
    if (m_busy)
        return false;
    if (m_link.isPortOpen()) {
        ShowMessage(QStringLiteral("COMポートを閉じます"), kStyleNotice);
        m_link.closePort();
    }
    return true;
}

} // namespace veltra
