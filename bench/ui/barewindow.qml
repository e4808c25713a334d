import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    visible: true
    width: 520
    height: 422
    title: "Bare window"

    Rectangle {
        anchors.fill: parent
        color: "#804ff9"
    }
}
