import QtQuick 2.12
import Arca.Theme 1.0

Item {
    implicitHeight: Math.max(100, logo.height + Theme.controlTopPadding + Theme.controlBottomPadding)

    Image {
        id: logo
        objectName: "logo"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 54
        sourceSize: Qt.size(156, 34)  // its size in the window, which the provider scales by the pixel ratio
        source: "image://picture/images/logo.png"
    }
}
