import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "controls"
import "pages"
import "Utils.js" as Utils

T.ApplicationWindow {
    id: root
    objectName: "mainWindow"

    // Spelled out because a QML window otherwise reports only Qt.Window, and greying out the close entry
    // of the system menu during an update looks for the close button hint.
    flags: Qt.Window | Qt.WindowTitleHint | Qt.WindowSystemMenuHint | Qt.WindowMinimizeButtonHint
           | Qt.WindowMaximizeButtonHint | Qt.WindowCloseButtonHint
    visible: true
    width: 520
    height: 422
    minimumWidth: 520
    minimumHeight: 422
    color: Theme.colorPurple
    title: Qt.platform.os === "windows" ? "%1 %2".arg(qsTr("Sonella Desktop")).arg(Qt.application.version)
                                        : qsTr("Sonella Desktop")

    // An empty footer would still take a line of height from the pages; it only shows where it has text.
    footer: ArcaLabel {
        horizontalAlignment: Text.AlignHCenter
        text: Qt.platform.os === "osx" ? Qt.application.version : ""
        visible: text !== ""
    }

    QtObject {
        id: internal
        objectName: "internal"

        readonly property QtObject otherSoftware: App.otherSoftware
        readonly property QtObject appExtension: App.appExtension
        readonly property QtObject updateManager: App.updateManager
        readonly property QtObject firmwareUpdateMediator: App.firmwareUpdateMediator
        readonly property QtObject softwareUpdateMediator: App.softwareUpdateMediator

        // The platform word of the update service. Linux has its own word so that the program built and
        // tested here updates itself the same way as on the other systems.
        readonly property string platformWord: {
            switch (Qt.platform.os) {
            case "windows":
                return "windows"
            case "osx":
                return "mac"
            case "linux":
                return "linux"
            }
            return ""
        }

        function isReceiverType(deviceType) {
            return deviceType === UIFirmwareUpdateMediator.SorrelReceiver
                    || deviceType === UIFirmwareUpdateMediator.SorrelPlusReceiver
        }

        function isHeadsetType(deviceType) {
            return deviceType === UIFirmwareUpdateMediator.SorrelHeadset
                    || deviceType === UIFirmwareUpdateMediator.SorrelPlusHeadset
        }

        function familyOf(deviceType) {
            if (isHeadsetType(deviceType))
                return [UIFirmwareUpdateMediator.SorrelHeadset, UIFirmwareUpdateMediator.SorrelPlusHeadset]
            if (isReceiverType(deviceType))
                return [UIFirmwareUpdateMediator.SorrelReceiver, UIFirmwareUpdateMediator.SorrelPlusReceiver]
            return []
        }

        function similarDeviceType(deviceType) {
            if (firmwareUpdateMediator.count(deviceType) > 0)
                return deviceType
            var family = familyOf(deviceType)
            for (var i = 0; i < family.length; ++i) {
                if (firmwareUpdateMediator.count(family[i], true) > 0)
                    return family[i]
            }
            return UIFirmwareUpdateMediator.Unknown
        }

        function similarDeviceCount(deviceType) {
            if (firmwareUpdateMediator.count(deviceType) === 0)
                return 0
            var family = familyOf(deviceType)
            var total = 0
            for (var i = 0; i < family.length; ++i)
                total += firmwareUpdateMediator.count(family[i], true)
            return total
        }

        function checkDeviceUpdate(deviceType) {
            var dfu = firmwareUpdateMediator.isDFU(deviceType, true)
            var version = firmwareUpdateMediator.getVersionString(deviceType, "M.m.p.b", true)
            var revision = firmwareUpdateMediator.getRevisionString(deviceType, "M.m.p.b", true)
            var model = firmwareUpdateMediator.getModelName(deviceType)
            if (!(dfu || version !== "") || !model)
                return
            if (isReceiverType(deviceType))
                updateManager.checkReceiverUpdate(model, version, revision)
            else if (isHeadsetType(deviceType))
                updateManager.checkHeadsetUpdate(model, version, revision)
        }

        function checkSoftwareUpdate() {
            if (platformWord !== "")
                updateManager.checkSoftwareUpdate(platformWord, Qt.application.version)
        }

        function getSoftwareUpdatePath() {
            return platformWord !== "" ? updateManager.getSoftwareUpdatePath(platformWord) : ""
        }

        // The pages after the welcome page, each with its part of the flow in flow/, are compiled and
        // their imports (the graphical effects among them) loaded when first shown, not before the first
        // frame. Their handlers reach this object by its id.
        property var pageComponents: ({})

        function page(name) {
            var component = pageComponents[name]
            if (!component) {
                component = Qt.createComponent("flow/%1.qml".arg(name), Component.PreferSynchronous, root)
                if (component.status !== Component.Ready)
                    console.error(component.errorString())
                pageComponents[name] = component
            }
            return component
        }

        function showPage(component, properties) {
            stackView.show(component, properties)
        }

        function showWelcome() {
            showPage(welcomePageComponent)
        }

        function tryContinue(deviceType, pageComponent) {
            var n = similarDeviceCount(deviceType)
            if (n === 0) {
                showWelcome()
                return false
            }
            if (n > 1) {
                showPage(internal.page("MultiDevicePage"), { deviceType: deviceType })
                return false
            }
            if (pageComponent)
                showPage(pageComponent, { deviceType: deviceType })
            return true
        }

        function devicePageOf(deviceType) {
            switch (deviceType) {
            case UIFirmwareUpdateMediator.SorrelReceiver:
                return internal.page("ReceiverPage")
            case UIFirmwareUpdateMediator.SorrelPlusReceiver:
                return internal.page("ReceiverPairwellPage")
            case UIFirmwareUpdateMediator.SorrelHeadset:
            case UIFirmwareUpdateMediator.SorrelPlusHeadset:
                return internal.page("HeadsetPage")
            }
            return null
        }

        function updateAvailableVersion(deviceType) {
            var model = firmwareUpdateMediator.getModelName(deviceType)
            return isReceiverType(deviceType) ? updateManager.getReceiverUpdateVersionString(model)
                                              : updateManager.getHeadsetUpdateVersionString(model)
        }

        function initDevicePage(page) {
            page.dfu = firmwareUpdateMediator.isDFU(page.deviceType)
            page.version = firmwareUpdateMediator.getVersionString(page.deviceType, "M.m", true)
            page.availableVersion = updateAvailableVersion(page.deviceType)
        }

        // Returns after replacing the page when the device went away or a second one came.
        function pollDevicePage(page) {
            if (!tryContinue(page.deviceType))
                return
            page.dfu = firmwareUpdateMediator.isDFU(page.deviceType, true)
            page.version = firmwareUpdateMediator.getVersionString(page.deviceType, "M.m", true)
        }

        function updateDevice(deviceType) {
            if (!tryContinue(deviceType))
                return
            var model = firmwareUpdateMediator.getModelName(deviceType)
            var path = isReceiverType(deviceType) ? updateManager.getReceiverUpdatePath(model)
                                                  : updateManager.getHeadsetUpdatePath(model)
            if (path !== "")
                firmwareUpdateMediator.update(deviceType, path)
        }

        // The chooser and the dialog module behind it are loaded on the first Alt-click, not at start.
        function fileDialog() {
            if (!easterEggDialogLoader.item)
                easterEggDialogLoader.setSource("dialogs/DlgFile.qml", { objectName: "fileDialog" })
            return easterEggDialogLoader.item
        }

        function chooseFirmwareFile(deviceType) {
            var dialog = fileDialog()
            dialog.deviceType = deviceType
            dialog.folder = dialog.shortcuts.home
            dialog.open()
        }

        function updateFromFile(deviceType, fileUrl) {
            if (!tryContinue(deviceType))
                return
            var path = Utils.localPath(fileUrl)
            if (path !== "")
                firmwareUpdateMediator.update(deviceType, path)
        }

        function repairDevice(deviceType) {
            if (tryContinue(deviceType))
                firmwareUpdateMediator.repair(deviceType)
        }

        function setWindowServicesEnabled(enabled) {
            appExtension.setCloseButtonEnabled(root, enabled)
            appExtension.setSystemSleepEnabled(enabled)
        }

        function handleUpdateStatus(status, deviceType) {
            switch (status) {
            case UIFirmwareUpdateMediator.Started:
                setWindowServicesEnabled(false)
                showPage(internal.page("ProgressPage"), { deviceType: deviceType, status: status })
                break
            case UIFirmwareUpdateMediator.Finished:
                setWindowServicesEnabled(true)
                showPage(internal.page("FinalPage"))
                break
            case UIFirmwareUpdateMediator.Timeout:
            case UIFirmwareUpdateMediator.Failed:
            case UIFirmwareUpdateMediator.FileError:
            case UIFirmwareUpdateMediator.DeviceError:
            case UIFirmwareUpdateMediator.Canceled:
                setWindowServicesEnabled(true)
                if (isReceiverType(deviceType))
                    showPage(internal.page("ErrorReceiverUpdatePage"), { deviceType: deviceType })
                else
                    showPage(internal.page("ErrorPage"), { deviceType: deviceType })
                break
            }
        }

        function handleRepairStatus(status, deviceType) {
            switch (status) {
            case UIFirmwareUpdateMediator.Started:
                setWindowServicesEnabled(false)
                showPage(internal.page("ProgressPage"), { deviceType: deviceType, status: status })
                break
            case UIFirmwareUpdateMediator.Finished:
                setWindowServicesEnabled(true)
                showPage(internal.page("FinalPage"))
                break
            case UIFirmwareUpdateMediator.Failed:
                setWindowServicesEnabled(true)
                showPage(internal.page("NoDeviceRepairPage"), { deviceType: deviceType })
                break
            case UIFirmwareUpdateMediator.FileError:
            case UIFirmwareUpdateMediator.DeviceError:
            case UIFirmwareUpdateMediator.Canceled:
                setWindowServicesEnabled(true)
                showPage(internal.page("ErrorPage"), { deviceType: deviceType })
                break
            }
        }
    }

    Connections {
        target: internal.firmwareUpdateMediator
        function onUpdateStatusChanged(status, deviceType) {
            internal.handleUpdateStatus(status, deviceType)
        }
        function onRepairStatusChanged(status, deviceType) {
            internal.handleRepairStatus(status, deviceType)
        }
    }

    Connections {
        target: internal.updateManager
        function onSoftwareUpdateChanged() {
            internal.softwareUpdateMediator.update(internal.getSoftwareUpdatePath())
        }
    }

    ArcaStackView {
        id: stackView
        objectName: "stackView"
        anchors.fill: parent
        implicitWidth: currentItem ? currentItem.implicitWidth : 0
        implicitHeight: currentItem ? currentItem.implicitHeight : 0
        initialItem: welcomePageComponent
    }

    Loader {
        id: easterEggDialogLoader
    }

    Connections {
        target: easterEggDialogLoader.item
        function onAccepted() {
            internal.updateFromFile(easterEggDialogLoader.item.deviceType, easterEggDialogLoader.item.fileUrl)
        }
    }

    Component {
        id: welcomePageComponent

        WelcomePage {
            id: welcomePage
            devicesSettled: false

            function chooseReceiver(fresh) {
                var fw = internal.firmwareUpdateMediator
                if (fw.count(UIFirmwareUpdateMediator.SorrelReceiver, !fresh) > 0)
                    return UIFirmwareUpdateMediator.SorrelReceiver
                if (fw.count(UIFirmwareUpdateMediator.SorrelPlusReceiver, true) > 0)
                    return UIFirmwareUpdateMediator.SorrelPlusReceiver
                return UIFirmwareUpdateMediator.Unknown
            }

            function chooseHeadset() {
                var fw = internal.firmwareUpdateMediator
                if (fw.count(UIFirmwareUpdateMediator.SorrelHeadset, true) > 0)
                    return UIFirmwareUpdateMediator.SorrelHeadset
                if (fw.count(UIFirmwareUpdateMediator.SorrelPlusHeadset, true) > 0)
                    return UIFirmwareUpdateMediator.SorrelPlusHeadset
                return UIFirmwareUpdateMediator.Unknown
            }

            function notificationFor(deviceType, availableVersion) {
                var current = internal.firmwareUpdateMediator.getVersionString(deviceType, "M.m", true)
                return Utils.parseVersion(availableVersion) > Utils.parseVersion(current)
            }

            function updateReceiverNotification() {
                var model = internal.firmwareUpdateMediator.getModelName(receiverType)
                receiverUpdateNotification = notificationFor(
                            receiverType, internal.updateManager.getReceiverUpdateVersionString(model))
            }

            function updateHeadsetNotification() {
                var model = internal.firmwareUpdateMediator.getModelName(headsetType)
                headsetUpdateNotification = notificationFor(
                            headsetType, internal.updateManager.getHeadsetUpdateVersionString(model))
            }

            onReceiverTypeChanged: {
                updateReceiverNotification()
                internal.checkDeviceUpdate(receiverType)
            }
            onHeadsetTypeChanged: {
                updateHeadsetNotification()
                internal.checkDeviceUpdate(headsetType)
            }

            Component.onCompleted: {
                receiverType = chooseReceiver(true)
                if (receiverType !== UIFirmwareUpdateMediator.Unknown) {
                    updateReceiverNotification()
                    internal.checkDeviceUpdate(receiverType)
                }
                headsetType = chooseHeadset()
                if (headsetType !== UIFirmwareUpdateMediator.Unknown) {
                    updateHeadsetNotification()
                    internal.checkDeviceUpdate(headsetType)
                }
                devicesSettled = true
            }

            Timer {
                interval: 250
                repeat: true
                running: true
                onTriggered: {
                    var fw = internal.firmwareUpdateMediator
                    if (fw.count(welcomePage.receiverType) === 0)
                        welcomePage.receiverType = welcomePage.chooseReceiver(false)
                    if (fw.count(welcomePage.headsetType, true) === 0)
                        welcomePage.headsetType = welcomePage.chooseHeadset()
                }
            }

            Connections {
                target: internal.updateManager
                function onReceiverUpdateChanged() {
                    welcomePage.updateReceiverNotification()
                }
                function onHeadsetUpdateChanged() {
                    welcomePage.updateHeadsetNotification()
                }
            }

            onReceiverClicked: {
                if (receiverType === UIFirmwareUpdateMediator.SorrelPlusReceiver)
                    internal.tryContinue(receiverType, internal.page("ReceiverPairwellPage"))
                else
                    internal.tryContinue(receiverType, internal.page("ReceiverPage"))
            }
            onHeadsetClicked: internal.tryContinue(headsetType, internal.page("HeadsetPage"))
        }
    }

    onClosing: close.accepted = !internal.firmwareUpdateMediator.isRunning()

    Component.onCompleted: {
        internal.appExtension.decorateWindow(root)
        internal.checkSoftwareUpdate()
    }
}
