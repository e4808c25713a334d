import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

Item {
    id: header

    signal clicked()

    implicitHeight: button.implicitHeight + button.anchors.topMargin

    ArcaButton {
        id: button
        objectName: "backButton"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.topMargin: Theme.layoutMargins + (Qt.platform.os === "osx" ? 10 : 0)
        anchors.leftMargin: Theme.layoutMargins + (Qt.platform.os === "osx" ? 10 : 0)
        implicitWidth: 44
        implicitHeight: 44
        background: null
        Accessible.name: qsTr("Back")
        contentItem: Item {
            TintedIcon {
                anchors.centerIn: parent
                sourceSize: Qt.size(24, 24)
                picture: "qrc:/images/arrow_left.png"
                color: Theme.colorWhite
                opacity: button.down ? 0.6 : 1
            }
        }
        onClicked: header.clicked()
    }
}
