import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

DeviceDetailsPage {
    id: page
    objectName: "receiverPairwellPage"

    signal updateClicked()
    signal repairClicked()
    signal addClicked()

    titleText: qsTr("Pairwell™ + Audio Receiver")
    bodyText: dfu ? qsTr("Your receiver can’t be paired during the\nupdate.")
                  : upToDate ? qsTr("You can reconnect your headset and add up\nto six Pairwell™ wireless products to\nthe receiver. ")
                             : qsTr("Please update your receiver before\nreconnecting or adding devices.")
    imageSource: "qrc:/images/device/dongle_su.png"

    buttons: [
        ArcaButton {
            objectName: "repairButton"
            text: qsTr("RECONNECT")
            highlighted: true
            visible: !page.dfu && page.upToDate
            onClicked: page.repairClicked()
        },
        ArcaButton {
            objectName: "addDeviceButton"
            text: qsTr("ADD DEVICE")
            highlighted: true
            visible: !page.dfu && page.upToDate
            onClicked: page.addClicked()
        },
        ArcaButton {
            objectName: "updateButton"
            text: qsTr("UPDATE")
            highlighted: true
            visible: page.dfu || page.updateAvailable
            enabled: page.updateAvailable
            onClicked: page.updateClicked()
        }
    ]
}
