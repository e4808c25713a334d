import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

// One of the two large buttons of the welcome page. Children are the pictures drawn on the tile.
ArcaButton {
    id: tile

    property bool notification: false
    property string missingText
    property string deviceName

    default property alias pictures: pictureLayer.data

    hoverEnabled: true
    padding: 0
    implicitWidth: 180
    implicitHeight: 180

    // The pictures say which device it is and the notice sits at the bottom; read out, it is one line.
    Accessible.name: !enabled ? missingText.replace("\n", " ")
                              : notification ? [deviceName, qsTr("Update available")].join(", ") : deviceName

    background: Rectangle {
        implicitWidth: 180
        implicitHeight: 180
        radius: 28
        color: tile.enabled && tile.hovered ? Qt.rgba(1, 1, 1, 0.9) : Qt.rgba(0, 0, 0, 0.06)
    }

    contentItem: Item {
        Item {
            id: pictureLayer
            anchors.fill: parent
        }

        ArcaLabel {
            objectName: "missingLabel"
            Accessible.ignored: true
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 18
            visible: !tile.enabled
            enabled: true
            horizontalAlignment: Text.AlignHCenter
            text: tile.missingText
            font.family: Theme.fontFamilyTitle
            color: Theme.fontColorEnabled
        }

        ArcaLabel {
            objectName: "updateAvailableLabel"
            Accessible.ignored: true
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: Theme.layoutMargins
            visible: tile.enabled && tile.notification
            text: qsTr("Update available")
            font.family: Theme.fontFamilyTitle
            color: tile.hovered ? Theme.fontColorHovered : Theme.fontColorEnabled
        }
    }
}
