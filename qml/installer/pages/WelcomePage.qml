import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    id: page

    title: heading.text

    signal installClicked()

    Image {
        x: 104; y: 216; width: 124; height: 124
        source: "qrc:/images/logo_start.png"
        fillMode: Image.PreserveAspectFit
    }

    ArcaLabel {
        id: heading
        x: 332; y: 208; width: 564; height: 124
        text: qsTr("WELCOME TO\nSONELLA")
        focus: true
        accessibleHeading: true
        font.bold: true
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
    }

    Item {
        x: 332; y: 332; width: 564; height: 64

        Column {
            anchors.verticalCenter: parent.verticalCenter
            anchors.left: parent.left
            spacing: 0

            ArcaLabel {
                text: qsTr("By clicking install you agree to the terms of the")
                font.family: Theme.fontFamilyTitle
                font.pixelSize: Theme.fontSizeLarge
            }

            ArcaLabel {
                id: licenseLink
                text: qsTr("End User License Agreement.")
                font.family: Theme.fontFamilyTitle
                font.pixelSize: Theme.fontSizeLarge
                font.bold: true
                function open() {
                    Qt.openUrlExternally("https://www.arca.example/legal/sonella-software-license")
                }

                LinkArea {
                    onActivated: licenseLink.open()
                }
                MouseArea {
                    objectName: "licenseLink"
                    anchors.fill: parent
                    hoverEnabled: true
                    acceptedButtons: Qt.LeftButton
                    cursorShape: Qt.PointingHandCursor
                    onClicked: licenseLink.open()
                }
            }
        }
    }

    ArcaButton {
        objectName: "installButton"
        x: 332; y: 428; width: 281
        highlighted: true
        text: qsTr("INSTALL SONELLA")
        onClicked: page.installClicked()
    }
}
