import QtQuick 2.12
import QtGraphicalEffects 1.12
import Arca.Theme 1.0

// A white disc with a tinted symbol, heading the final and the error pages.
Rectangle {
    property alias source: symbol.source
    property alias tint: overlay.color

    width: 70
    height: 70
    color: Theme.colorWhite

    Image {
        id: symbol
        anchors.centerIn: parent
        visible: false
    }
    ColorOverlay {
        id: overlay
        anchors.fill: symbol
        source: symbol
    }
}
