#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "sim/hidsim.h"

namespace HidSim {

class SimDevice;

// What a headset or receiver of the two families shows on the bus and how it answers its reports.
class DeviceModel {
public:
    static constexpr quint16 kVendorId = 0x046d;

    struct Reaction {
        QByteArray reply;  // empty: no input report
        bool enterUpdate = false;
    };

    [[nodiscard]] static QVector<Interface> interfacesOf(const DeviceSetup& setup);
    // What the device sends on its own on its first normal-mode interface.
    [[nodiscard]] static QByteArray statusReport(DeviceType type);
    [[nodiscard]] static QString defaultManufacturer(DeviceType type);
    [[nodiscard]] static QString defaultProduct(DeviceType type, Mode mode);

    // Reacts to an output report written to one of the device's normal-mode interfaces.
    [[nodiscard]] static Reaction answer(SimDevice& device, quint16 usagePage, const QByteArray& report);

    struct Firmware {
        quint8 major = 0;
        quint8 minor = 0;
        quint8 build = 0;
    };
    // The device reports major, minor and build, each as one BCD byte, so each must stay below 100 and
    // the patch number, which it cannot report, must be 0.
    [[nodiscard]] static bool parseFirmware(const QString& text, Firmware* firmware, QString* error);
    [[nodiscard]] static quint8 bcd(quint8 value) { return quint8(((value / 10) << 4) | (value % 10)); }
};

}  // namespace HidSim
