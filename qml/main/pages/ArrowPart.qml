import QtQuick 2.12
import Arca.Theme 1.0

Item {
    property alias source: image.picture
    property bool chevron: false

    width: image.width
    height: 14

    TintedIcon {
        id: image
        anchors.verticalCenter: parent.verticalCenter
        sourceSize: parent.chevron ? Qt.size(8, 14) : Qt.size(36, 14)
        color: parent.chevron ? Qt.lighter(Theme.colorWhite, 1.50) : Theme.colorWhite
    }
}
