import QtQuick 2.12
import Arca.Theme 1.0

// The outline around the element that has keyboard focus. Its owner shows it only while the user moves
// with the keyboard, so the look under the mouse stays as it is.
Rectangle {
    // Three pixels of the page between the ring and its owner: closer, a ring of the owner's own colour
    // reads as the owner grown by two pixels.
    property real margin: 5

    objectName: "focusRing"

    anchors.fill: parent
    anchors.margins: -margin
    visible: false
    color: "transparent"
    border.width: 2
    border.color: Theme.colorWhite
}
