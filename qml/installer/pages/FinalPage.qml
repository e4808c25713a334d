import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    id: page

    title: heading.text

    signal launchClicked()

    Image {
        x: 104; y: 216; width: 124; height: 128
        source: "qrc:/images/logo_finish.png"
        fillMode: Image.PreserveAspectFit
    }

    ArcaLabel {
        id: heading
        x: 332; y: 208; width: 564; height: 124
        text: qsTr("SONELLA\nIS INSTALLED")
        focus: true
        accessibleHeading: true
        font.bold: true
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
    }

    ArcaLabel {
        x: 332; y: 332; width: 564; height: 64
        text: qsTr("Thank you! your software is ready to use.\nDownload Sonella for your iOS or Android device")
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeLarge
    }

    ArcaButton {
        objectName: "launchButton"
        x: 332; y: 428; width: 281
        highlighted: true
        text: qsTr("LAUNCH SONELLA")
        onClicked: page.launchClicked()
    }

    Image {
        x: 332; y: 518; width: 120; height: 40
        source: "qrc:/images/app_store.png"
        fillMode: Image.PreserveAspectFit

        function open() {
            Qt.openUrlExternally("https://apps.apple.com/app/sonella/id0000000000")
        }

        LinkArea {
            Accessible.name: qsTr("App Store")
            onActivated: parent.open()
        }
        MouseArea {
            objectName: "appStoreLink"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: parent.open()
        }
    }

    Image {
        x: 475; y: 518; width: 135; height: 40
        source: "qrc:/images/play_market.png"
        fillMode: Image.PreserveAspectFit

        function open() {
            Qt.openUrlExternally("https://play.google.com/store/apps/details?id=example.arca.sonella")
        }

        LinkArea {
            Accessible.name: qsTr("Google Play")
            onActivated: parent.open()
        }
        MouseArea {
            objectName: "playMarketLink"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: parent.open()
        }
    }
}
