import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

DeviceDetailsPage {
    id: page
    objectName: "headsetPage"

    signal updateClicked()
    signal doneClicked()

    titleText: qsTr("Headset")
    bodyText: upToDate ? qsTr("Your headset is already up to date.")
                       : qsTr("Make sure your headset stays plugged via USB cable\nduring the update.")
    imageSource: "qrc:/images/device/headset.png"
    versionRowOffset: 70

    buttons: [
        ArcaButton {
            objectName: "updateButton"
            text: qsTr("UPDATE")
            highlighted: true
            visible: page.dfu || page.updateAvailable
            enabled: page.updateAvailable
            onClicked: page.updateClicked()
        },
        ArcaButton {
            objectName: "doneButton"
            text: qsTr("DONE")
            highlighted: true
            visible: !page.dfu && page.upToDate
            onClicked: page.doneClicked()
        }
    ]
}
