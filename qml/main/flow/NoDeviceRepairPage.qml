import QtQuick 2.12
import "../pages" as Pages

Pages.NoDeviceRepairPage {
    onBackClicked: internal.showPage(internal.page("RepairPage"), { deviceType: deviceType })
    onTryAgainClicked: internal.repairDevice(deviceType)
}
