#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/outcome.h"
#include "settings/decode.h"

namespace veltra {

class DeviceLink;
class RelayFinder;
class SettingsFields;
class UserPrompts;

// Where and when one page's present values were read.
struct PageReading
{
    QString port;            // the device as it was opened: /dev/ttyUSB0, COM3
    QDateTime time;          // when its reply was accepted
    QByteArray reply;        // that reply, for comparisons by code
    bool superseded = false; // a later read failed before it came to this page

    friend bool operator==(const PageReading &, const PageReading &) = default;
};

// The ports a relay search asks: every port present but those on a Bluetooth link, whose
// drivers may take seconds to open and then page the far device, and every port named (the port
// field, --port), whatever it is.
QStringList relaySearchPorts(const QList<PresentPort> &present, const QStringList &named);

// What a page's three buttons do; the value is the button's index in its control array
// (Command2_1 copies circuit 1).
enum class PageAction { Read = 0, Copy = 1, Write = 2 };

// The commands behind the window's buttons. Each runs to its end inside the click; while
// one waits for the relay, further clicks are ignored.
class Commands : public QObject
{
    Q_OBJECT
public:
    Commands(DeviceLink &link, SettingsFields &fields, UserPrompts &prompts,
             QObject *parent = nullptr);

    // The page button of `action` on page 0..8.
    void pageButton(int page, PageAction action);
    // Reads page 0..8 alone, as its read button does; writes it alone, after its confirmation.
    void readOnePage(int page);
    void writeOnePage(int page);
    void ReadAllPages();
    void WriteAllPages();
    void CopyAllPresentToSet();
    void ClearValues();
    void SaveSettingsFile();
    // Saves the values to write, all nine pages, as a settings file: no relay and no read
    // needed; refused while any of them cannot be written.
    void saveEditedSettingsFile();
    void LoadSettingsFile();
    // The load of LoadSettingsFile for a file named elsewhere (command line, a drop): its
    // confirmation naming the file, its checks and its messages.
    void loadSettingsFileFrom(const QString &path);
    // Sends a read of the common settings to every port named, all at once, and reports which
    // answered; with exactly one relay found, the port field is set to it.
    void findRelays(const QStringList &ports);
    // The search's own lines, for a frame log and the status line.
    const RelayFinder &finder() const { return *m_finder; }
    // The exit button: notice and close when the port is open. False while busy.
    bool CloseAndExit();
    // Esc: ends a read-all before its next page, or a relay search at once; a write, never.
    void requestStop();
    // A stop that must not wait for the command's end (the command line's Ctrl+C, SIGTERM,
    // SIGHUP): the frame on the line completes, and no further frame goes, in a write too.
    void interrupt();
    bool interrupted() const { return m_interrupted; }

    // The station the relay written or cleared must hold, checked by the link check before any
    // frame: a command line's --expect-station, a site's row. Without it, the station read on
    // the same port with the common page's present values, where there is one.
    void setExpectedStation(std::optional<int> station);
    std::optional<int> expectedStation() const;

    // Off at every start: a write of one page or of all pages then reads the written pages
    // back and reports each item the relay does not hold as written.
    void setVerifyAfterWrite(bool on);
    bool verifyAfterWrite() const { return m_verifyAfterWrite; }

    // How the last command that ran ended.
    const Outcome &outcome() const { return m_outcome; }

    bool busy() const { return m_busy; }
    int settingsPage() const { return m_settingsPage; }
    const DecodedRecords &records() const { return m_records; }
    // How page 0..8's present values came to be; nothing until the page was read.
    const std::optional<PageReading> &reading(int page) const;
    // The same for every page, in page order.
    QList<std::optional<PageReading>> readings() const;
    // The relay's station number as its common page was read; empty when not read.
    QString station() const;
    // The page's present values may not be what the relay on the port now named holds: a later
    // read failed before it came to them, or they were read on another port.
    bool presentValuesOlder(int page) const;
    // The settings file loaded or saved last, as the system writes paths; empty when none.
    QString lastSettingsFile() const { return m_lastSettingsFile; }
    // Lines 3 and 5..12 of the settings file loaded last.
    const QStringList &loadedLines() const { return m_loadedLines; }

    // The window is closing: end any wait now and show nothing more.
    void shutDown();
    bool shuttingDown() const { return m_shuttingDown; }

signals:
    // A command has ended and nothing runs any more.
    void idle();
    // A command's outcome is known; its report, if any, is about to be shown.
    void concluded();
    void verifyAfterWriteChanged(bool on);
    // A page was read, or its present values became older.
    void readingsChanged();
    // A command's step `done` of `total` is under way: a page read, a frame sent, a page read
    // back.
    void progressed(Progress kind, int done, int total);

private:
    // A frame as it was checked and confirmed, with the texts it was built from.
    struct PlannedFrame
    {
        int page = 0;
        QByteArray frame;
        QStringList texts; // by item
    };

    template<typename Fn> void runExclusive(Fn &&command);

    // Reads and decodes one page; the link failure, if any.
    std::optional<Outcome::Kind> ReadPage(int page);
    // The link's result as an outcome; nothing for success.
    static std::optional<Outcome::Kind> linkFailure(LinkError error);
    // The port field's text as the device to open, read at the moment of each transaction.
    QString device() const;
    void readPageCommand(int page);
    void copyPageCommand(int page);
    void WritePage(int page);
    void writePages(CommandId command, int firstPage, int lastPage, const QString &question);
    // A read transaction failed: every page this command has not read is older now.
    void supersedeUnreadPages();
    QList<PlannedFrame> planFrames(int firstPage, int lastPage) const;
    // What a write of these pages would change, and where, for its confirmation.
    WriteDetails writeDetails(int firstPage, int lastPage) const;
    bool linkCheck(Outcome &outcome);
    void verifyWritten(const QList<PlannedFrame> &plan, Outcome &outcome);
    void endTransactionCommand();
    // Records how the command ended and shows its report, if it has one.
    void conclude(const Outcome &outcome);
    int ShowMessage(const QString &text, int style, const QString &details = {});
    // The two file commands' bodies (filecommands.cpp).
    void saveSettingsFileCommand();
    void saveEditedSettingsFileCommand();
    void loadSettingsFileCommand();
    void loadNamedSettingsFile(const QString &path);

    DeviceLink &m_link;
    SettingsFields &m_fields;
    UserPrompts &m_prompts;
    RelayFinder *m_finder;
    DecodedRecords m_records;
    std::array<std::optional<PageReading>, 9> m_readings;
    std::array<bool, 9> m_readThisCommand{};
    Outcome m_outcome;
    QStringList m_loadedLines; // lines 3 and 5..12 of the last file read
    QString m_lastSettingsFile;
    QString m_lastLoadedFile; // as given to the loader, for the save dialog to propose
    int m_settingsPage = 0;
    bool m_busy = false;
    bool m_stopRequested = false;
    bool m_interrupted = false;
    std::optional<int> m_expectedStation;
    // The station the relay on a port holds, as last read there or written there.
    struct StationOnPort
    {
        QString port;
        std::optional<int> station;
    };
    std::optional<StationOnPort> m_stationOnPort;
    CommandId m_running = CommandId::None; // the command that may be stopped, while it runs
    bool m_shuttingDown = false;
    bool m_verifyAfterWrite = false;
};

} // namespace veltra
