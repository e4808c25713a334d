import QtQuick 2.12
import QtGraphicalEffects 1.12
import Arca.Theme 1.0

Item {
    property alias source: image.source
    property bool chevron: false

    width: image.width
    height: 14

    Image {
        id: image
        anchors.verticalCenter: parent.verticalCenter
        visible: false
    }
    ColorOverlay {
        anchors.fill: image
        source: image
        color: parent.chevron ? Qt.lighter(Theme.colorWhite, 1.50) : Theme.colorWhite
    }
}
