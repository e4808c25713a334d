#include "mediator/firmwareimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

}  // namespace UIMediator
