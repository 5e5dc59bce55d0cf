#include "operations/commands.h"

#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/messages.h"
#include "operations/relayfinder.h"
#include "operations/userprompts.h"
#include "settings/changes.h"
#include "settings/encode.h"
#include "settings/items.h"
#include "settings/settingsfields.h"
#include "settings/validation.h"

namespace veltra {

Commands::Commands(DeviceLink &link, SettingsFields &fields, UserPrompts &prompts, QObject *parent)
    : QObject(parent), m_link(link), m_fields(fields), m_prompts(prompts),
      m_finder(new RelayFinder({}, this))
{}

template<typename Fn> void Commands::runExclusive(Fn &&command)
{
    // Waits run the event loop, so a click can arrive while a command is under way.
    if (m_busy || m_shuttingDown)
        return;
    m_busy = true;
    m_stopRequested = m_interrupted;
    m_readThisCommand.fill(false);
    // The ports this command uses stay its own until it ends, against other processes too.
    m_link.holdPortLocks(true);
    command();
    m_link.holdPortLocks(false);
    m_busy = false;
    // mutate: equivalent: delete stmt: only a busy command is ever stopped, and each that can be
    // sets m_running as it starts
    m_running = CommandId::None;
    emit idle();
}

void Commands::shutDown()
{
    m_shuttingDown = true;
    m_link.abortWaits();
    m_finder->abort();
}

int Commands::ShowMessage(const QString &text, int style, const QString &details)
{
    // Once the window is closing nobody is there to answer.
    if (m_shuttingDown)
        // mutate: equivalent: cmp == to !=: nothing but Yes goes on after a confirmation, OK is not
        // Yes, and a report's answer is never read
        return style == kStyleConfirm ? kAnswerNo : kAnswerOk;
    return m_prompts.ShowMessage(text, style, details);
}

void Commands::conclude(const Outcome &outcome)
{
    m_outcome = outcome;
    if (outcome.kind == Outcome::Kind::PortUnusable)
        m_outcome.refusal = m_link.refusal();
    emit concluded();
    const QString text = messages::report(outcome);
    if (!text.isEmpty())
        ShowMessage(text, kStyleNotice);
}

void Commands::endTransactionCommand()
{
    m_fields.setBusyPointer(false);
}

void Commands::readOnePage(int page)
{
    pageButton(page, PageAction::Read);
}

void Commands::writeOnePage(int page)
{
    pageButton(page, PageAction::Write);
}

void Commands::pageButton(int page, PageAction action)
{
    runExclusive([&] {
        m_settingsPage = page;
        switch (action) {
        case PageAction::Read:
            emit progressed(Progress::Reading, 1, 1);
            readPageCommand(page);
            break;
        case PageAction::Copy:
            copyPageCommand(page);
            break;
        case PageAction::Write:
            WritePage(page);
            break;
        }
    });
}

std::optional<Outcome::Kind> Commands::linkFailure(LinkError error)
{
    switch (error) {
    case LinkError::None:
        break;
    case LinkError::NoReply:
        return Outcome::Kind::NoReply;
    case LinkError::DataError:
        return Outcome::Kind::DataError;
    case LinkError::PortUnusable:
        return Outcome::Kind::PortUnusable;
    }
    return std::nullopt;
}

QString Commands::device() const
{
    // A text that names no port opens nothing: the link then says the port cannot be used.
    return systemPortName(m_fields.portText()).value_or(QString());
}

const std::optional<PageReading> &Commands::reading(int page) const
{
    static const std::optional<PageReading> kNone;
    return isSettingsPage(page) ? m_readings[std::size_t(page)] : kNone;
}

QList<std::optional<PageReading>> Commands::readings() const
{
    return {m_readings.begin(), m_readings.end()};
}

QString Commands::station() const
{
    const QString station = m_fields.presentValue(kCommonPage, kStationItem);
    return station == notLoadedText() ? QString() : station;
}

bool Commands::presentValuesOlder(int page) const
{
    const std::optional<PageReading> &r = reading(page);
    return r && (r->superseded || r->port != systemPortName(m_fields.portText()));
}

void Commands::supersedeUnreadPages()
{
    // The line has just failed: whatever the relay on it now holds, the pages not read in this
    // command may be another relay's, or from before a change.
    bool changed = false;
    for (std::size_t page = 0; page < m_readings.size(); ++page) {
        std::optional<PageReading> &r = m_readings.at(page);
        if (r && !m_readThisCommand.at(page) && !r->superseded) {
            r->superseded = true;
            changed = true;
        }
    }
    if (changed)
        emit readingsChanged();
}

std::optional<Outcome::Kind> Commands::ReadPage(int page)
{
    // Named before the wait: the field may be edited while the relay is awaited.
    const QString port = device();
    if (const auto failure = linkFailure(m_link.ReadTransaction(page, port))) {
        supersedeUnreadPages();
        return failure;
    }
    DecodeReply(page, m_link.lastReply(), m_records, m_fields);
    m_readings[std::size_t(page)] =
        PageReading{port, QDateTime::currentDateTime(), m_link.lastReply(), false};
    m_readThisCommand[std::size_t(page)] = true;
    if (page == kCommonPage)
        m_stationOnPort = {port, reportedCode(kCommonPage, kStationItem, m_link.lastReply())};
    emit readingsChanged();
    return std::nullopt;
}

void Commands::readPageCommand(int page)
{
    Outcome outcome{CommandId::ReadPage};
    outcome.page = page;
    outcome.kind = ReadPage(page).value_or(Outcome::Kind::Success);
    conclude(outcome);
    endTransactionCommand();
}

void Commands::ReadAllPages()
{
    runExclusive([&] {
        m_running = CommandId::ReadAll;
        Outcome outcome{CommandId::ReadAll};
        m_fields.setBusyPointer(true);
        for (int page = 0; page < kPageCount; ++page) {
            // Between two pages only: a page under way is read to its end.
            if (m_stopRequested || m_interrupted) {
                outcome.kind = Outcome::Kind::Stopped;
                conclude(outcome);
                endTransactionCommand();
                return;
            }
            emit progressed(Progress::Reading, page + 1, kPageCount);
            if (const auto failure = ReadPage(page)) {
                outcome.kind = *failure; // how far it got is in pagesRead
                conclude(outcome);
                endTransactionCommand();
                return;
            }
            outcome.pagesRead << page;
        }
        m_fields.setBusyPointer(false);
        conclude(outcome);
    });
}

void Commands::copyPageCommand(int page)
{
    // Each command keeps its own flag: none can be misled by what an earlier one found.
    // mutate: equivalent: const 0 to 1: the flag is only ever compared with -1
    int invalidValueFlag = 0;
    CopyPresentToSet(page, m_fields, invalidValueFlag);
    Outcome outcome{CommandId::CopyPage};
    if (invalidValueFlag == -1)
        outcome.kind = Outcome::Kind::InvalidPresentValues;
    conclude(outcome);
}

void Commands::CopyAllPresentToSet()
{
    runExclusive([&] {
        // mutate: equivalent: const 0 to 1: the flag is only ever compared with -1
        int invalidValueFlag = 0;
        // mutate: equivalent: cmp < to <=: a page past the last has no items to copy
        for (int page = 0; page < kPageCount; ++page)
            CopyPresentToSet(page, m_fields, invalidValueFlag);
        Outcome outcome{CommandId::CopyAll};
        if (invalidValueFlag == -1)
            outcome.kind = Outcome::Kind::InvalidPresentValues;
        conclude(outcome);
    });
}

QList<Commands::PlannedFrame> Commands::planFrames(int firstPage, int lastPage) const
{
    QList<PlannedFrame> plan;
    for (int page = firstPage; page <= lastPage; ++page) {
        PlannedFrame planned{page, BuildWriteFrame(page, m_fields), {}};
        // mutate: equivalent: cmp < to <=: the texts are compared item by item of the page: one
        // past the last is never read
        for (int item = 0; item < itemCount(page); ++item)
            planned.texts << m_fields.setValue(page, item);
        plan << planned;
    }
    return plan;
}

void Commands::setExpectedStation(std::optional<int> station)
{
    m_expectedStation = station;
}

std::optional<int> Commands::expectedStation() const
{
    if (m_expectedStation)
        return m_expectedStation;
    // Only a station read on the port about to be written, or written there since, says which
    // relay is meant there.
    if (!m_stationOnPort || m_stationOnPort->port != device())
        return std::nullopt;
    return m_stationOnPort->station;
}

bool Commands::linkCheck(Outcome &outcome)
{
    // The only sign that the relay is there: writes and clears are never answered. It reads the
    // common page, so the station about to be written is known before any frame goes.
    const std::optional<int> expected = expectedStation();
    outcome.device = device();
    if (const auto failure = linkFailure(m_link.ReadTransaction(kCommonPage, outcome.device))) {
        supersedeUnreadPages();
        outcome.kind = *failure;
        return false;
    }
    outcome.stationRead = reportedCode(kCommonPage, kStationItem, m_link.lastReply());
    outcome.stationExpected = expected;
    if (expected && outcome.stationRead != expected) {
        // Another relay is on the line now: no page read before holds its values.
        supersedeUnreadPages();
        outcome.kind = Outcome::Kind::WrongStation;
        return false;
    }
    // A stop asked for while the check waited ends the command before its first frame.
    if (m_interrupted) {
        outcome.kind = Outcome::Kind::Stopped;
        return false;
    }
    return true;
}

void Commands::WritePage(int page)
{
    writePages(CommandId::WritePage, page, page, messages::writeQuestion(page));
}

void Commands::WriteAllPages()
{
    runExclusive([&] {
        writePages(CommandId::WriteAll, kCommonPage, kPageCount - 1, messages::writeAllQuestion());
    });
}

void Commands::writePages(CommandId command, int firstPage, int lastPage, const QString &question)
{
    const bool all = command == CommandId::WriteAll;
    Outcome outcome{command};
    outcome.page = firstPage;
    // A value the relay does not know would go out as "E": refused before anything is asked,
    // by the rule the command line and the edited save refuse by.
    // mutate: equivalent: const 0 to 1: the flag is only ever compared with -1
    int invalidValueFlag = 0;
    for (int page = firstPage; page <= lastPage; ++page)
        CheckSetValues(page, m_fields, invalidValueFlag);
    if (invalidValueFlag == -1) {
        outcome.kind = Outcome::Kind::InvalidSetValues;
        outcome.problems = setValueProblems(m_fields, firstPage, lastPage);
        conclude(outcome);
        return;
    }
    if (ShowMessage(question, kStyleConfirm,
                    messages::writeDetails(writeDetails(firstPage, lastPage))) != kAnswerYes) {
        outcome.kind = Outcome::Kind::Declined;
        conclude(outcome);
        return;
    }
    // What goes on the line is what was checked and confirmed: a field edited while the write
    // waits for the relay or paces its frames is not part of this write.
    const QList<PlannedFrame> plan = planFrames(firstPage, lastPage);
    m_fields.setBusyPointer(true);
    if (linkCheck(outcome)) {
        for (const PlannedFrame &planned : plan) {
            outcome.page = planned.page;
            if (m_shuttingDown) {
                outcome.kind = Outcome::Kind::WriteFailed;
                break;
            }
            if (m_interrupted) { // between two frames, never within one
                outcome.kind = Outcome::Kind::Stopped;
                break;
            }
            if (all)
                m_settingsPage = planned.page;
            emit progressed(Progress::Writing, int(outcome.pagesSent.size()) + 1, int(plan.size()));
            const FrameSent sent = m_link.SendWriteFrame(planned.frame, device());
            if (sent != FrameSent::Sent) {
                // Going on would report a write that did not happen as finished.
                outcome.kind = sent == FrameSent::PortUnusable ? Outcome::Kind::PortUnusable
                                                               : Outcome::Kind::WriteFailed;
                break;
            }
            outcome.pagesSent << planned.page;
            // The relay holds the station written now, whatever was read before.
            if (planned.page == kCommonPage)
                m_stationOnPort = {device(), stationNumberValue(planned.texts.value(kStationItem))};
            if (all)
                m_link.pacingPause();
        }
        if (outcome.succeeded() && m_verifyAfterWrite)
            verifyWritten(plan, outcome);
    }
    conclude(outcome);
    endTransactionCommand();
}

WriteDetails Commands::writeDetails(int firstPage, int lastPage) const
{
    WriteDetails details;
    details.device = device();
    details.expectedStation = expectedStation();
    for (int page = firstPage; page <= lastPage; ++page) {
        const bool read = m_fields.presentValue(page, 0) != notLoadedText();
        if (!read) {
            details.notRead << page;
            continue;
        }
        // Values read on another port, or before a failed read, are no other relay's changes.
        if (presentValuesOlder(page)) {
            details.older << page;
            if (const auto &r = reading(page); r && r->port != details.device)
                details.otherPort = r->port;
            continue;
        }
        ++details.comparedPages;
        for (int item = 0; item < itemCount(page); ++item) {
            const QString from = m_fields.presentValue(page, item);
            const QString to = m_fields.setValue(page, item);
            if (!sameValue(page, item, from, to))
                details.changes.append({page, item, from, to});
        }
    }
    return details;
}

void Commands::setVerifyAfterWrite(bool on)
{
    if (on == m_verifyAfterWrite)
        return;
    m_verifyAfterWrite = on;
    emit verifyAfterWriteChanged(on);
}

void Commands::verifyWritten(const QList<PlannedFrame> &plan, Outcome &outcome)
{
    // The relay answers no write: only reading the pages back shows what it took. The last
    // frame has had its pause once write-all is here; a single page has not.
    if (outcome.command == CommandId::WritePage)
        m_link.pacingPause();
    QList<QByteArray> replies;
    for (const PlannedFrame &planned : plan) {
        if (m_shuttingDown)
            return;
        if (m_interrupted) { // written, and not read back: the report names the pages sent
            outcome.kind = Outcome::Kind::Stopped;
            return;
        }
        emit progressed(Progress::Verifying, int(replies.size()) + 1, int(plan.size()));
        if (const auto failure = ReadPage(planned.page)) {
            // Every frame left: this is no failed write, only one that nobody could check.
            outcome.kind = Outcome::Kind::NotVerified;
            outcome.linkFailure = *failure;
            return;
        }
        replies << m_link.lastReply();
    }
    outcome.verified = true;
    // By the codes that travelled, not by display texts: a leakage sensitivity of 1.5(A) is
    // held as written although decoding shows its code as "ERROR".
    for (qsizetype i = 0; i < plan.size(); ++i) {
        const PlannedFrame &planned = plan[i];
        const PageKind kind = pageKind(planned.page);
        for (int row = 0; row < itemCount(kind); ++row) {
            const int item = itemAtScreenRow(kind, row);
            const QString written = planned.texts[item];
            if (!relayHolds(planned.page, item, written, replies[i]))
                outcome.notTaken.append(
                    {planned.page, item, written, reportedText(planned.page, item, replies[i])});
        }
    }
    if (!outcome.notTaken.isEmpty())
        outcome.kind = Outcome::Kind::NotTaken;
}

void Commands::ClearValues()
{
    runExclusive([&] {
        m_settingsPage = kClearPage;
        Outcome outcome{CommandId::Clear};
        const bool operationValues = m_fields.clearOptionSelected(0);
        const bool maximumValues = m_fields.clearOptionSelected(1);
        outcome.operationValues = operationValues;
        if (!operationValues && !maximumValues) {
            // Without a choice there is nothing to confirm and nothing worth sending.
            outcome.kind = Outcome::Kind::NothingToClear;
            conclude(outcome);
            return;
        }
        if (ShowMessage(messages::clearQuestion(operationValues), kStyleConfirm) == kAnswerYes) {
            // The clear that goes out is the one confirmed, whatever is chosen meanwhile.
            const QByteArray frame = BuildWriteFrame(kClearPage, m_fields);
            m_fields.setBusyPointer(true);
            if (linkCheck(outcome)) {
                outcome.page = kClearPage;
                const FrameSent sent = m_link.SendWriteFrame(frame, device());
                if (sent == FrameSent::PortUnusable)
                    outcome.kind = Outcome::Kind::PortUnusable;
                else if (sent == FrameSent::LineFailed)
                    outcome.kind = Outcome::Kind::WriteFailed;
            }
        } else {
            outcome.kind = Outcome::Kind::Declined;
        }
        conclude(outcome);
        endTransactionCommand();
    });
}

void Commands::SaveSettingsFile()
{
    runExclusive([&] { saveSettingsFileCommand(); });
}

void Commands::saveEditedSettingsFile()
{
    runExclusive([&] { saveEditedSettingsFileCommand(); });
}

void Commands::LoadSettingsFile()
{
    runExclusive([&] { loadSettingsFileCommand(); });
}

void Commands::loadSettingsFileFrom(const QString &path)
{
    runExclusive([&] { loadNamedSettingsFile(path); });
}

QStringList relaySearchPorts(const QList<PresentPort> &present, const QStringList &named)
{
    QStringList ports;
    for (const PresentPort &port : present)
        if (!port.bluetooth)
            ports << port.name;
    return ports + named;
}

void Commands::findRelays(const QStringList &ports)
{
    runExclusive([&] {
        m_running = CommandId::FindRelays;
        Outcome outcome{CommandId::FindRelays};
        m_fields.setBusyPointer(true);
        outcome.probes = m_finder->find(ports);
        m_fields.setBusyPointer(false);
        if (m_stopRequested) { // what answered so far is not the whole picture
            outcome.kind = Outcome::Kind::Stopped;
            conclude(outcome);
            return;
        }
        QStringList found;
        for (const Probe &probe : outcome.probes)
            if (probe.status == Probe::Status::Relay)
                found << probe.port;
        if (found.isEmpty())
            outcome.kind = Outcome::Kind::NoReply;
        else if (found.size() == 1)
            m_fields.setPortText(found.constFirst());
        conclude(outcome);
    });
}

void Commands::interrupt()
{
    m_interrupted = true;
    m_stopRequested = true;
    m_finder->abort();
}

void Commands::requestStop()
{
    // mutate: equivalent: logic || to &&: a stop asked twice asks nothing new, and an idle command
    // has nothing to stop
    if (!m_busy || m_stopRequested)
        // mutate: equivalent: delete stmt: a stop asked twice asks nothing new (the search's loop
        // quits once), and an idle command has nothing to stop
        return;
    if (m_running == CommandId::ReadAll) {
        m_stopRequested = true;
    } else if (m_running == CommandId::FindRelays) {
        m_stopRequested = true;
        m_finder->abort();
    }
}

bool Commands::CloseAndExit()
{
    if (m_busy)
        return false;
    if (m_link.isPortOpen()) {
        ShowMessage(messages::portClosing(), kStyleNotice);
        m_link.closePort();
    }
    return true;
}

} // namespace veltra
