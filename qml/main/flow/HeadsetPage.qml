import QtQuick 2.12
import "../pages" as Pages

Pages.HeadsetPage {
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
        function onHeadsetUpdateChanged() {
            page.availableVersion = internal.updateAvailableVersion(page.deviceType)
        }
    }

    onUpdateClicked: internal.updateDevice(deviceType)
    onEasterEggClicked: internal.chooseFirmwareFile(deviceType)
    onDoneClicked: internal.showWelcome()
    onBackClicked: internal.showWelcome()
}
