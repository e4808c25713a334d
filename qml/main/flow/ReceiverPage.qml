import QtQuick 2.12
import "../pages" as Pages

Pages.ReceiverPage {
    id: page

    Component.onCompleted: internal.initDevicePage(page)

    Timer {
        interval: 250
        repeat: true
        running: true
        onTriggered: internal.pollDevicePage(page)
    }

    Connections {
        target: internal.updateManager
        function onReceiverUpdateChanged() {
            page.availableVersion = internal.updateAvailableVersion(page.deviceType)
        }
    }

    onUpdateClicked: internal.updateDevice(deviceType)
    onEasterEggClicked: internal.chooseFirmwareFile(deviceType)
    onRepairClicked: internal.tryContinue(deviceType, internal.page("RepairPage"))
    onDoneClicked: internal.showWelcome()
    onBackClicked: internal.showWelcome()
}
