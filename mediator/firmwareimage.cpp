#include "mediator/firmwareimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "base/logging.h"
#include "dfu/imagecheck.h"
#include "mediator/knowndevicetable.h"

namespace UIMediator {

QStringList FirmwareImage::searchDirectories() {
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/firmware"),
            QStringLiteral(":/firmware")};
}

QString FirmwareImage::find(const Io::DeviceId& id, const QStringList& directories) {
    for (const QString& base : directories) {
        const QDir dir(base + QLatin1Char('/') + id.toString());
        const QFileInfoList images = dir.entryInfoList({QStringLiteral("*.dfu")}, QDir::Files, QDir::NoSort);
        if (!images.isEmpty())
            return images.first().absoluteFilePath();
    }
    return {};
}

Global::Version FirmwareImage::versionFromFileName(const QString& file_name) {
    QString rest = file_name;
    rest.remove(QStringLiteral(".dfu"), Qt::CaseSensitive);
    if (!rest.contains(QStringLiteral("_T"), Qt::CaseSensitive))
        return {};
    const QString numbers = rest.split(QStringLiteral("_T"), Qt::KeepEmptyParts, Qt::CaseSensitive).last();
    const QStringList parts = numbers.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return {};
    const quint32 major = parts.at(0).toUShort() & 0xffu;
    const quint32 minor = parts.at(1).toUShort() & 0xffu;
    const quint32 build = parts.at(2).toUInt();
    return Global::Version(Global::Version::compose(major, minor, 0), build);
}

Global::Version FirmwareImage::version(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return {};
    return versionFromFileName(info.fileName());
}

std::optional<Global::Version> FirmwareImage::checkDownload(const QString& path, const QString& family,
                                                            bool receiver) {
    std::uint16_t bcd = 0;
    QString why;
    if (!DFU::checkImage(path, KnownDeviceTable::updateModeIdOf(family, receiver), &bcd, &why)) {
        qCWarning(lcFirmware).noquote() << "downloaded image" << QDir::toNativeSeparators(path) << "for the"
                                        << family << (receiver ? "receiver" : "headset") << "refused:" << why;
        return std::nullopt;
    }
    // 0xffff is the USB DFU suffix's "any release".
    if (bcd == 0xffff)
        return Global::Version();
    // No release is numbered 0.0, and the invalid version already means "any".
    if (bcd == 0) {
        qCWarning(lcFirmware).noquote()
            << "downloaded image" << QDir::toNativeSeparators(path) << "for the" << family
            << (receiver ? "receiver" : "headset") << "refused: its suffix states release 0.0";
        return std::nullopt;
    }
    const quint32 value = bcd;
    const quint32 digits[] = {value >> 12u, (value >> 8u) & 0xfu, (value >> 4u) & 0xfu, value & 0xfu};
    for (const quint32 digit : digits) {
        if (digit > 9)
            return std::nullopt;
    }
    return Global::Version(
        Global::Version::compose(digits[0] * 10 + digits[1], digits[2] * 10 + digits[3], 0), 0);
}

}  // namespace UIMediator
