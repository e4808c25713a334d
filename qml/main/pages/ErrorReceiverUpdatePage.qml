import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

FamilyPage {
    id: page
    objectName: "errorReceiverUpdatePage"

    title: heading.text

    signal tryAgainClicked()

    // The picture: the receiver, turned towards the computer's port, with arrows for "out, then in".
    Row {
        id: illustration
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: -30
        layoutDirection: Qt.RightToLeft

        Image {
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:/images/background/error_dongle_update.png"
        }
        Item {
            anchors.verticalCenter: parent.verticalCenter
            width: arrows.width - 24
            height: arrows.height
            Column {
                id: arrows
                spacing: 10
                Row {
                    ArrowPart { source: "qrc:/images/chevron_left.png"; chevron: true }
                    ArrowPart { source: "qrc:/images/line.png" }
                }
                Row {
                    ArrowPart { source: "qrc:/images/line.png" }
                    ArrowPart { source: "qrc:/images/chevron_right.png"; chevron: true }
                }
            }
        }
        Item {
            readonly property bool plus: page.deviceType === UIFirmwareUpdateMediator.SorrelPlusReceiver
            anchors.verticalCenter: parent.verticalCenter
            width: dongle.height - (plus ? 0 : 10)
            height: dongle.width
            Image {
                id: dongle
                objectName: "receiverPicture"
                anchors.centerIn: parent
                rotation: 90
                source: parent.plus ? "qrc:/images/device/dongle_su.png" : "qrc:/images/device/dongle.png"
            }
        }
    }

    Column {
        anchors.left: parent.left
        anchors.leftMargin: 50
        anchors.top: parent.top
        anchors.topMargin: 60
        spacing: 2 * Theme.layoutSpacing

        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            text: qsTr("Hmm. something went\nwrong...")
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeLarge
            font.bold: true
        }
        RepairStep {
            number: "1."
            text: qsTr("Please disconnect the receiver\nand plug it back again.")
        }
        RepairStep {
            number: "2."
            text: qsTr("Retry updating the receiver.")
        }
    }

    Column {
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 1.5 * Theme.layoutSpacing

        ArcaButton {
            objectName: "tryAgainButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("TRY AGAIN")
            highlighted: true
            onClicked: page.tryAgainClicked()
        }
        HelpRow {
            anchors.horizontalCenter: parent.horizontalCenter
        }
    }
}
