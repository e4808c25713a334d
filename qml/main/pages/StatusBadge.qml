import QtQuick 2.12
import Arca.Theme 1.0

// A white disc with a tinted symbol, heading the final and the error pages.
Rectangle {
    property alias source: symbol.picture
    property alias tint: symbol.color

    width: 70
    height: 70
    color: Theme.colorWhite

    TintedIcon {
        id: symbol
        anchors.centerIn: parent
        sourceSize: Qt.size(34, 34)
    }
}
