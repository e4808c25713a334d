import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

FamilyPage {
    id: page
    objectName: "noDeviceRepairPage"

    title: heading.text

    signal backClicked()
    signal tryAgainClicked()

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
        anchors.verticalCenterOffset: -(footerColumn.height) / 2 - 10
        spacing: 2 * Theme.layoutSpacing

        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            text: qsTr("Hmm. We’re not seeing your\nheadset...")
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeLarge
            font.bold: true
        }
        ArcaLabel {
            objectName: "bodyLabel"
            text: qsTr("Please make sure you pressed\nthe pairing mode button and\nyour device is blinking.")
        }
    }

    Column {
        id: footerColumn
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
