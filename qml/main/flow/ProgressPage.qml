import QtQuick 2.12
import "../pages" as Pages

Pages.ProgressPage {
    id: progressPage

    Connections {
        target: internal.firmwareUpdateMediator
        function onUpdateStatusChanged(status, deviceType) {
            progressPage.status = status
        }
        function onRepairStatusChanged(status, deviceType) {
            progressPage.status = status
        }
        function onUpdateProgressChanged(percents, deviceType) {
            progressPage.indeterminate = false
            progressPage.percents = percents
        }
    }
}
