import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    id: page

    title: heading.text

    // The running Sonella was asked to close and the installation waits for it.
    property bool waiting: false

    signal installLaterClicked()
    signal continueClicked()

    Image {
        x: 104; y: 216; width: 124; height: 128
        source: "qrc:/images/logo_update.png"
        fillMode: Image.PreserveAspectFit
    }

    ArcaLabel {
        id: heading
        x: 332; y: 208; width: 564; height: 124
        text: qsTr("AN UPDATE IS READY TO BE\nINSTALLED")
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
                objectName: "updateText"
                text: page.waiting
                      ? qsTr("Waiting for Sonella to close, for 5 minutes at most. A firmware update that is\nrunning finishes first; then the update is installed.")
                      : qsTr("Select Continue to install the update now, or Install Later to be reminded the\nnext time you open this app.")
                font.family: Theme.fontFamilyTitle
                font.pixelSize: Theme.fontSizeLarge
            }
        }
    }

    ArcaButton {
        objectName: "installLaterButton"
        x: 332; y: 428; width: 150
        enabled: !page.waiting
        text: qsTr("INSTALL LATER")
        onClicked: page.installLaterClicked()
    }

    ArcaButton {
        objectName: "continueButton"
        x: 491; y: 428; width: 150
        highlighted: true
        enabled: !page.waiting
        text: qsTr("CONTINUE")
        onClicked: page.continueClicked()
    }
}
