#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace veltra::sim {

inline constexpr int kCircuitCount = 8;

// The common page as the relay stores it: device codes, not texts.
struct CommonCodes
{
    int frequency = 0;     // 0 50 Hz, 1 60 Hz
    int resetBits = 0;     // bit 1 insulation contact reset (item 1), bit 0 LED reset (item 2)
    int leakageReset = 0;  // 0 automatic, 1 manual
    int tripOnTest = 0;    // 0 no, 1 yes
    int selfDiagnosis = 0; // 0 no, 1 yes
    int station = 1;       // 0..255

    friend bool operator==(const CommonCodes &, const CommonCodes &) = default;
};

// One circuit page, codes in item order.
struct CircuitCodes
{
    int wiring = 0;                // 0..5
    int insulationSensitivity = 0; // 0..15
    int insulationDelay = 0;       // 0..4
    int leakageSensitivity = 0;    // 0..19; 10..19 only reach the relay by a write frame
    int leakageDelay = 0;          // 0..11

    friend bool operator==(const CircuitCodes &, const CircuitCodes &) = default;
};

struct RelaySettings
{
    CommonCodes common;
    std::array<CircuitCodes, kCircuitCount> circuits{};

    friend bool operator==(const RelaySettings &, const RelaySettings &) = default;
};

// The settings a simulated relay starts with (listed in tools/relay-sim/README.md).
RelaySettings defaultSettings();

// What the relay recorded while monitoring, per circuit in mA; only a clear frame changes it.
struct StoredValues
{
    std::array<int, kCircuitCount> operationValues{};
    std::array<int, kCircuitCount> maximumValues{};
    int operationClears = 0;
    int maximumClears = 0;

    friend bool operator==(const StoredValues &, const StoredValues &) = default;
};

StoredValues defaultStoredValues();

enum class FrameKind { Read, Write, Clear, Rejected };

struct FrameResult
{
    FrameKind kind = FrameKind::Rejected;
    QByteArray command; // "AE", "B0".."B9"; empty when the frame is too short to hold one
    int page = -1;      // 0..8 for reads and writes, 9 for the clear frame, -1 unknown
    bool accepted = false;
    QString reason;   // why a frame was rejected, or what an accepted one did
    QByteArray reply; // the reply frame of an accepted read request
};

// Characters 2..5 of a reply: the station address and the page, not interpreted by the tool.
QByteArray replyHeader(int page);
// The twelve data characters of a page as the relay sends them.
QByteArray replyData(const RelaySettings &settings, int page);
// STX, header, data, ETX, checksum over header..ETX, CR: 21 bytes.
QByteArray replyFrame(QByteArrayView header, QByteArrayView data);

class RelayModel
{
public:
    RelayModel();
    explicit RelayModel(const RelaySettings &settings);

    const RelaySettings &settings() const { return m_settings; }
    void setSettings(const RelaySettings &settings) { m_settings = settings; }
    const StoredValues &storedValues() const { return m_stored; }

    // Replaces the settings by those of a .DT file; on any failure nothing changes.
    bool loadSettingsFile(const QString &path, QString *error);

    // The reply to a read request for `page` 0..8 with the present settings.
    QByteArray replyFrame(int page) const;

    // One frame from ENQ to CR. Accepted writes and clears change the relay; a rejected frame
    // changes nothing.
    FrameResult handleFrame(QByteArrayView frame);

    // A relay that accepts writes of `page` but keeps its old value of `item` (0..6 on the
    // common page, 0..4 on a circuit page): a fault a read-back after writing must find.
    void ignoreWrittenItem(int page, int item);

private:
    FrameResult handleRead(QByteArrayView frame, FrameResult result) const;
    FrameResult handleWrite(QByteArrayView frame, FrameResult result);
    void keepItem(const RelaySettings &before, int page, int item);

    RelaySettings m_settings;
    StoredValues m_stored;
    QList<std::pair<int, int>> m_ignoredItems; // (page, item)
};

} // namespace veltra::sim
