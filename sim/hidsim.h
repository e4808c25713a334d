#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// In-process control of the simulated HID bus behind libhidsim.so's hidapi functions. Every function here
// is safe to call from any thread, but never from inside an update-mode handler's callback (those run with
// the bus lock held).
namespace HidSim {

// Values match the program's own device types, so a test can cast between the two.
enum class DeviceType {
    Unknown = 0,
    SorrelHeadset = 1,
    SorrelReceiver = 2,
    SorrelPlusHeadset = 3,
    SorrelPlusReceiver = 4
};

enum class Mode { Normal, Update };

struct Faults {
    bool openFails = false;    // hid_open_path / hid_open return NULL
    bool writeFails = false;   // hid_write and hid_send_feature_report return -1
    bool readFails = false;    // reads return -1 at once
    bool readTimeout = false;  // the device accepts writes but never answers, so reads time out
    // The device leaves the bus right after accepting this many more writes (0: off); what a user pulling
    // the plug in the middle of an exchange looks like to the program.
    int unplugAfterWrites = 0;
};

struct RepairScript {
    // Reply byte 2 of the repair poll once pairing ends: 0x40 (paired), 0x08 or 0x20 (failed); -1 never ends.
    int outcome = 0x40;
    // Polls answered "still pairing" before the outcome is reported.
    int pollsBefore = 2;
};

struct Timings {
    int leaveMs = 0;           // enter-update command -> the device leaves the bus
    int reenumerateMs = 1500;  // left the bus -> back under its update-mode identity
    int resetMs = 1500;        // update-mode reset -> back in normal mode, unless the handler names a delay
    int replyDelayMs = 0;      // write -> its reply can be read
    // Pacing of writes and feature reports on update-mode interfaces: one report per this many
    // microseconds, as a full-speed interrupt endpoint does at 1000. 0 is the fast mode for tests.
    int updateReportIntervalUs = 1000;
};

// How close to hardware a device is on its link. The defaults are the quick, kind link that most tests
// want; report sizes (Interface) are enforced whatever the link says, unless strictSizes is turned off.
struct Link {
    // Every answer of the device, a normal-mode reply or an update-mode acknowledgement, becomes readable
    // this long after the report it answers, plus a random 0 to ackJitterMs. Answers stay in order.
    int ackLatencyMs = 0;
    int ackJitterMs = 0;
    // A report the device sends on its own every this many ms on its first normal-mode interface (0:
    // never), as a headset reports its state. It reaches every handle open at that moment.
    int unsolicitedEveryMs = 0;
    QByteArray unsolicitedReport;  // empty: the status report of the device's type
    bool strictSizes = true;
};

struct DeviceSetup {
    DeviceType type = DeviceType::Unknown;  // Unknown: a foreign device with the raw ids below
    Mode mode = Mode::Normal;
    QString serial;  // a null QString enumerates with no serial number at all; an empty one with ""
    QString firmware = QStringLiteral("1.0.0");
    int revision = 0;
    quint16 vendorId = 0;  // the raw ids are used only for foreign devices
    quint16 productId = 0;
    quint16 usagePage = 0;
    quint16 usage = 0;
    QString manufacturer;  // empty: a default of the device type
    QString product;
    // Foreign devices only: the longest output and feature reports the interface takes, report id byte
    // included (0: any length).
    int outputReportSize = 0;
    int featureReportSize = 0;
    RepairScript repair;
    Faults faults;
    Link link;
};

struct Interface {
    QString path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    quint16 usagePage = 0;
    quint16 usage = 0;
    // The longest report a write may hand over, report id byte included (0: any length). A longer one is
    // refused, as the device refuses a transfer longer than its report.
    int outputReportSize = 0;
    int featureReportSize = 0;
};

struct DeviceState {
    int id = 0;
    DeviceType type = DeviceType::Unknown;
    Mode mode = Mode::Normal;
    bool present = false;  // false while it is off the bus between two identities
    QString serial;
    QString firmware;
    int revision = 0;
    QVector<Interface> interfaces;
    int enterUpdateCount = 0;
    int postUpdateCount = 0;
    int repairStartCount = 0;
    int repairPollCount = 0;
    int repairEndCount = 0;
    bool pairing = false;
    Link link;
};

enum class TrafficKind { Open, OpenRefused, Close, Write, Read, SendFeature, GetFeature, GetInput };

struct TrafficEntry {
    quint64 sequence = 0;
    TrafficKind kind = TrafficKind::Write;
    int deviceId = 0;
    QString path;
    QString serial;
    quint16 vendorId = 0;
    quint16 productId = 0;
    quint16 usagePage = 0;
    QByteArray bytes;  // as written, or as handed to the reader
    int result = 0;    // what the hidapi call returned
};

// Empty fields match everything.
struct TrafficFilter {
    int kind = -1;  // a TrafficKind, or -1
    QString serial;
    quint16 usagePage = 0;
    QByteArray prefix;
};

// Empties the bus, forgets the traffic, restores the default timings. Does not touch the control socket
// or the registered update-mode handler factory.
void reset();

// Replaces the bus with a scenario (the format of docs/hidsim.md). On error the bus is left empty and
// the message names the problem (and the file, for a file).
[[nodiscard]] bool loadScenario(const QByteArray& json, QString* error = nullptr);
[[nodiscard]] bool loadScenarioFile(const QString& path, QString* error = nullptr);

// Returns the id of the new device, which stays the same while it changes identity on the bus.
int plug(const DeviceSetup& setup);
bool unplug(int id);
int unplugSerial(const QString& serial);  // every device with this serial number; returns how many
// Takes the device off the bus and brings it back under the same identity after afterMs, with new paths;
// handles open on the old paths stay dead.
bool replug(int id, int afterMs);

bool setFaults(int id, const Faults& faults, quint16 usagePage = 0);  // usagePage 0: every interface
bool setFirmware(int id, const QString& firmware);
bool setRevision(int id, int revision);
bool setRepair(int id, const RepairScript& script);
// Takes effect at once, also for a device that is off the bus; a new unsolicited rate starts a new count.
bool setLink(int id, const Link& link);
// Moves the device to the other identity through the bus: it leaves and comes back after afterMs.
bool setMode(int id, Mode mode, int afterMs = 0);

void setTimings(const Timings& timings);
[[nodiscard]] Timings timings();

[[nodiscard]] QVector<DeviceState> devices();
[[nodiscard]] QVector<int> findSerial(const QString& serial);
[[nodiscard]] DeviceState device(int id);  // id 0 when there is no such device

[[nodiscard]] QVector<TrafficEntry> traffic(const TrafficFilter& filter = {});
[[nodiscard]] int count(const TrafficFilter& filter);
void clearTraffic();
// The log keeps the newest entries only, so that a long run does not grow without bound.
void setTrafficLimit(int entries);

// The bus announces every arrival and departure through hidsim_bus_changes() (hidapi.cpp), as a system's
// device notifications do; turned off (or started with HIDSIM_SILENT_BUS set), it announces nothing and the
// program has to poll. reset() restores the start-up choice.
void setAnnouncing(bool announcing);
// hid_enumerate calls since the last reset() or clearTraffic().
[[nodiscard]] int enumerations();

// Listens for live changes on a unix socket at path (JSON lines, docs/hidsim.md). The library starts it
// by itself when HIDSIM_CONTROL is set. An empty path stops it.
bool startControl(const QString& path, QString* error = nullptr);

[[nodiscard]] QString deviceTypeName(DeviceType type);

}  // namespace HidSim
