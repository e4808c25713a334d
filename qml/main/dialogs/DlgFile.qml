import QtQuick 2.12
import QtQuick.Dialogs 1.3
import Arca.UIMediator.Enums 1.0

FileDialog {
    property int deviceType: UIFirmwareUpdateMediator.Unknown

    title: qsTr("Please choose a file")
    nameFilters: [qsTr("DFU files (*.dfu)")]
    selectExisting: true
    selectMultiple: false
    selectFolder: false
    folder: shortcuts.home
}
