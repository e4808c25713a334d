import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

FamilyPage {
    id: page
    objectName: "repairPage"

    signal backClicked()
    signal nextClicked()

    title: qsTr("RECONNECT")

    header: BackHeader {
        onClicked: page.backClicked()
    }

    Keys.onEscapePressed: page.backClicked()

    Image {
        objectName: "repairBackground"
        x: 30
        y: 0
        source: "qrc:/images/background/repair.png"
    }

    Column {
        anchors.right: parent.right
        anchors.rightMargin: 30
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: -button.height / 2 - 10
        spacing: 3 * Theme.layoutSpacing

        RepairStep {
            number: "1."
            focus: true
            text: qsTr("Go ahead and turn on your\nheadset")
        }
        RepairStep {
            number: "2."
            text: qsTr("Press the pairing button to\nput headset in pairing mode.\nThe light will begin blinking")
        }
        RepairStep {
            number: "3."
            text: qsTr("Click next to put your receiver\ninto pairing mode")
        }
    }

    ArcaButton {
        id: button
        objectName: "nextButton"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        text: qsTr("NEXT")
        highlighted: true
        onClicked: page.nextClicked()
    }
}
