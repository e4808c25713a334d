import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

Row {
    id: row

    property url supportUrl: "https://support.arca.example/hc/en-us"

    spacing: Theme.layoutSpacing / 2

    function openSupport() {
        Qt.openUrlExternally(row.supportUrl)
    }

    ArcaLabel {
        anchors.verticalCenter: parent.verticalCenter
        text: qsTr("Still having trouble?")
        font.pixelSize: Theme.fontSizeXSmall
        color: Theme.fontColorDisabled
    }
    ArcaLabel {
        objectName: "helpLink"
        anchors.verticalCenter: parent.verticalCenter
        text: qsTr("Help me")
        font.pixelSize: Theme.fontSizeXSmall
        font.family: Theme.fontFamilyTitle
        font.bold: true
        color: Theme.fontColorEnabled
        LinkArea {
            onActivated: row.openSupport()
        }
        MouseArea {
            anchors.fill: parent
            anchors.margins: -4
            cursorShape: Qt.PointingHandCursor
            onClicked: row.openSupport()
        }
    }
    TintedIcon {
        anchors.verticalCenter: parent.verticalCenter
        sourceSize: Qt.size(8, 14)
        picture: "qrc:/images/chevron_right.png"
        color: Qt.lighter(Theme.colorGray, 1.50)
    }
}
