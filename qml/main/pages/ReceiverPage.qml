import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

DeviceDetailsPage {
    id: page
    objectName: "receiverPage"

    signal updateClicked()
    signal repairClicked()
    signal doneClicked()

    titleText: qsTr("Receiver")
    bodyText: dfu ? qsTr("Your receiver can’t be paired during the\nupdate.")
                  : upToDate ? qsTr("Your receiver is up to date.\nYou can still re-pair your headset.")
                             : qsTr("Please choose an option to begin.")
    imageSource: "qrc:/images/device/dongle.png"

    buttons: [
        ArcaButton {
            objectName: "repairButton"
            text: qsTr("RECONNECT")
            highlighted: true
            visible: !page.dfu
            onClicked: page.repairClicked()
        },
        ArcaButton {
            objectName: "dfuDoneButton"
            text: qsTr("DONE")
            visible: page.dfu
            onClicked: page.doneClicked()
        },
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
            visible: !page.dfu && page.upToDate
            onClicked: page.doneClicked()
        }
    ]
}
