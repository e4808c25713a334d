#include "sim/devicemodel.h"

#include <QStringList>

#include "sim/simdevice.h"

namespace HidSim {

namespace {

struct Identity {
    quint16 normalProductId;
    quint16 updateProductId;
    bool receiver;
};

Identity identityOf(DeviceType type) {
    switch (type) {
        case DeviceType::SorrelHeadset:
            return {0x0a91, 0x0a93, false};
        case DeviceType::SorrelReceiver:
            return {0x0a90, 0x0a92, true};
        case DeviceType::SorrelPlusHeadset:
            return {0x0aab, 0x0aac, false};
        case DeviceType::SorrelPlusReceiver:
            return {0x0aa8, 0x0aa9, true};
        case DeviceType::Unknown:
            break;
    }
    return {0, 0, false};
}

bool startsWith(const QByteArray& report, std::initializer_list<quint8> bytes) {
    if (report.size() < int(bytes.size()))
        return false;
    int i = 0;
    for (quint8 b : bytes) {
        if (quint8(report[i++]) != b)
            return false;
    }
    return true;
}

QByteArray bytes(std::initializer_list<quint8> list) {
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

constexpr quint8 kPairingInProgress = 0x10;
constexpr quint8 kPairingIdle = 0x00;

}  // namespace

QVector<Interface> DeviceModel::interfacesOf(const DeviceSetup& setup) {
    if (setup.type == DeviceType::Unknown)
        return {Interface{QString(), setup.vendorId, setup.productId, setup.usagePage, setup.usage,
                          setup.outputReportSize, setup.featureReportSize}};
    const Identity identity = identityOf(setup.type);
    // Report sizes with the report id byte: the update protocol's 64-byte reports are unnumbered, so
    // hidapi hands over 65 bytes; the normal-mode reports are a few bytes each.
    if (setup.mode == Mode::Update)
        return {Interface{QString(), kVendorId, identity.updateProductId, 0xff00, 1, 65, 65}};
    if (identity.receiver)
        return {Interface{QString(), kVendorId, identity.normalProductId, 0xffa0, 1, 8, 8},
                Interface{QString(), kVendorId, identity.normalProductId, 0xffa1, 1, 16, 16}};
    return {Interface{QString(), kVendorId, identity.normalProductId, 0xffc0, 1, 32, 32}};
}

QByteArray DeviceModel::statusReport(DeviceType type) {
    // Report ids that no reply of the device starts with, as a device keeps its own reports apart.
    if (identityOf(type).receiver)
        return bytes({0x05, 0x01, 0x00, 0x00});
    return bytes({0x30, 0x01, 0x64, 0x00, 0x00, 0x00, 0x00});
}

QString DeviceModel::defaultManufacturer(DeviceType type) {
    return type == DeviceType::Unknown ? QStringLiteral("Simulated Peripherals") : QStringLiteral("Arca");
}

QString DeviceModel::defaultProduct(DeviceType type, Mode mode) {
    QString name;
    switch (type) {
        case DeviceType::SorrelHeadset:
            name = QStringLiteral("Sorrel Headset");
            break;
        case DeviceType::SorrelReceiver:
            name = QStringLiteral("Sorrel Receiver");
            break;
        case DeviceType::SorrelPlusHeadset:
            name = QStringLiteral("SorrelPlus Headset");
            break;
        case DeviceType::SorrelPlusReceiver:
            name = QStringLiteral("SorrelPlus Receiver");
            break;
        case DeviceType::Unknown:
            return QStringLiteral("HID Device");
    }
    return mode == Mode::Update ? name + QStringLiteral(" (update)") : name;
}

DeviceModel::Reaction DeviceModel::answer(SimDevice& device, quint16 usagePage, const QByteArray& report) {
    Reaction reaction;
    Firmware fw;
    QString ignored;
    // The firmware text was checked when it was set; a handler may have left a patch number, which the
    // device cannot report anyway.
    if (!parseFirmware(device.setup.firmware, &fw, &ignored)) {
        const QStringList parts = device.setup.firmware.split(QLatin1Char('.'));
        fw.major = quint8(parts.value(0).toInt() % 100);
        fw.minor = quint8(parts.value(1).toInt() % 100);
    }

    if (usagePage == 0xffc0) {
        if (startsWith(report, {0x00, 0x01, 0x00})) {
            reaction.reply = bytes({0x01, 0x00, 0x00, bcd(fw.major), bcd(fw.minor), bcd(fw.build), 0x00});
        } else if (startsWith(report, {0x00, 0xf1, 0x03, 0x00, 0x02, 0x0f})) {
            reaction.reply = bytes({0xf1, 0x03, 0x00, 0x02, 0x0f, 0x00, quint8(device.setup.revision), 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0x00});
        } else if (startsWith(report, {0x00, 0xce, 0x02, 0x02, 0x00})) {
            ++device.enterUpdateCount;
            reaction.enterUpdate = true;
        } else if (startsWith(report, {0x00, 0xce, 0x02, 0x2d, 0x00})) {
            ++device.postUpdateCount;
        }
        return reaction;
    }

    if (usagePage == 0xffa0) {
        const bool wasPrepared = device.prepared;
        device.prepared = false;
        if (startsWith(report, {0x02, 0x01, 0x00})) {
            device.prepared = true;
        } else if (startsWith(report, {0x02, 0x00, 0x80})) {
            reaction.reply = bytes({0x02, bcd(fw.major), bcd(fw.minor), bcd(fw.build)});
        } else if (startsWith(report, {0x02, 0x08, 0x00})) {
            // Pairing mode needs the "01" report right before it, as the program always sends.
            if (wasPrepared) {
                ++device.repairStartCount;
                device.pairing = true;
                device.pollsWhilePairing = 0;
            }
        } else if (startsWith(report, {0x02, 0x80, 0x00})) {
            ++device.repairPollCount;
            quint8 status = kPairingIdle;
            if (device.pairing) {
                const RepairScript& script = device.setup.repair;
                if (script.outcome >= 0 && device.pollsWhilePairing >= script.pollsBefore)
                    status = quint8(script.outcome);
                else
                    status = kPairingInProgress;
                ++device.pollsWhilePairing;
            }
            reaction.reply = bytes({0x02, 0x80, status});
        } else if (startsWith(report, {0x02, 0x02, 0x00})) {
            ++device.enterUpdateCount;
            reaction.enterUpdate = true;
        }
        return reaction;
    }

    if (usagePage == 0xffa1 && startsWith(report, {0x03, 0xce, 0x02, 0x22, 0x00})) {
        ++device.repairEndCount;
        device.pairing = false;
    }
    return reaction;
}

bool DeviceModel::parseFirmware(const QString& text, Firmware* firmware, QString* error) {
    const QString expected =
        QStringLiteral("expected a version text \"major.minor.0\" or \"major.minor.0-build\"");
    QString main = text;
    QString build = QStringLiteral("0");
    const int dash = text.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        main = text.left(dash);
        build = text.mid(dash + 1);
    }
    const QStringList parts = main.split(QLatin1Char('.'));
    if (parts.size() != 3) {
        *error = QStringLiteral("'%1': %2").arg(text, expected);
        return false;
    }
    int values[4];
    const QString fields[4] = {parts[0], parts[1], parts[2], build};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = fields[i].toInt(&ok);
        if (!ok || fields[i].isEmpty() || values[i] < 0) {
            *error = QStringLiteral("'%1': %2").arg(text, expected);
            return false;
        }
    }
    if (values[2] != 0) {
        *error = QStringLiteral(
                     "'%1': the device reports major, minor and build only, so the patch number must be 0")
                     .arg(text);
        return false;
    }
    if (values[0] > 99 || values[1] > 99 || values[3] > 99) {
        *error = QStringLiteral("'%1': the device reports each number as one BCD byte, 0 to 99").arg(text);
        return false;
    }
    firmware->major = quint8(values[0]);
    firmware->minor = quint8(values[1]);
    firmware->build = quint8(values[3]);
    return true;
}

}  // namespace HidSim
