import QtQuick 2.12
import "../pages" as Pages

Pages.RepairPage {
    onBackClicked: {
        var component = internal.devicePageOf(deviceType)
        if (component && internal.isReceiverType(deviceType))
            internal.showPage(component, { deviceType: deviceType })
    }
    onNextClicked: internal.repairDevice(deviceType)
}
