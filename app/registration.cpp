#include "app/registration.h"

#include <QQmlEngine>
#include <QtQml>

#include "app/accessibility.h"
#include "app/theme.h"

#ifndef ARCA_INSTALLER
#include "io/iiodevice.h"
#include "io/iodeviceinfo.h"
#include "mediator/uifirmwareupdatemediator.h"
#else
#include "mediator/uiinstallermediator.h"
#endif

namespace {

QObject* createTheme(QQmlEngine*, QJSEngine*) {
    return new Theme();
}

}  // namespace

void registerTypes() {
    installAccessibility();
    qmlRegisterSingletonType<Theme>("Arca.Theme", 1, 0, "Theme", createTheme);
#ifndef ARCA_INSTALLER
    qmlRegisterUncreatableType<UIMediator::UIFirmwareUpdateMediator>(
        "Arca.UIMediator.Enums", 1, 0, "UIFirmwareUpdateMediator",
        QStringLiteral("Error - class UIFirmwareUpdateMediator uncreatable"));
    qRegisterMetaType<Io::IIoDevice::Shared>("IIoDevice::Shared");
    qRegisterMetaType<Io::IoDeviceInfo>("IoDeviceInfo");
    qRegisterMetaType<UIMediator::UIFirmwareUpdateMediator::Status>("Status");
    qRegisterMetaType<UIMediator::UIFirmwareUpdateMediator::DeviceType>("DeviceType");
#else
    qmlRegisterUncreatableType<UIMediator::UIInstallerMediator>(
        "Arca.UIMediator.Enums", 1, 0, "UIInstallerMediator",
        QStringLiteral("Error - class UIInstallerMediator uncreatable"));
    qRegisterMetaType<UIMediator::UIInstallerMediator::Status>("Status");
#endif
}
