import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    id: page
    objectName: "finalPage"

    title: heading.text

    signal doneClicked()

    background: null
    header: LogoHeader {}

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 30
        spacing: 3 * Theme.layoutSpacing

        StatusBadge {
            anchors.horizontalCenter: parent.horizontalCenter
            radius: 40
            source: "qrc:/images/validate.png"
            tint: Theme.colorPurple
        }
        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("You're all set!")
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeTitle
            font.bold: true
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
