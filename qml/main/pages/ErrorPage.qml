import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

FamilyPage {
    id: page
    objectName: "errorPage"

    title: heading.text

    signal doneClicked()

    Column {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: -40
        width: parent.width
        spacing: 2 * Theme.layoutSpacing

        StatusBadge {
            anchors.horizontalCenter: parent.horizontalCenter
            radius: 35
            source: "qrc:/images/warning.png"
            tint: Theme.colorRed
        }
        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("Something went wrong...")
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeXLarge
            font.bold: true
        }
        ArcaLabel {
            objectName: "bodyLabel"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: Theme.fontSizeRegular
            text: page.familyText(qsTr("Please keep your receiver plugged in during the\nentire process."),
                                  qsTr("Please keep your headset plugged in during the\nentire process."))
        }
    }

    ArcaButton {
        objectName: "doneButton"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        text: qsTr("DONE")
        highlighted: true
        onClicked: page.doneClicked()
    }
}
