import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

FamilyPage {
    id: page
    objectName: "multiDevicePage"

    signal backClicked()
    signal tryAgainClicked()

    title: heading.text

    header: BackHeader {
        onClicked: page.backClicked()
    }

    Keys.onEscapePressed: page.backClicked()

    ArcaLabel {
        id: heading
        objectName: "titleLabel"
        focus: true
        accessibleHeading: true
        anchors.top: parent.top
        anchors.topMargin: 20
        anchors.left: parent.left
        anchors.right: parent.right
        horizontalAlignment: Text.AlignHCenter
        text: page.familyText(qsTr("You have more than one\nreceiver plugged in..."),
                              qsTr("You have more than one\nheadset plugged in..."))
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
        font.bold: true
    }

    ArcaLabel {
        id: body
        objectName: "bodyLabel"
        anchors.top: heading.bottom
        anchors.topMargin: Theme.layoutSpacing
        anchors.left: parent.left
        anchors.right: parent.right
        horizontalAlignment: Text.AlignHCenter
        lineHeight: 1.2
        text: page.familyText(qsTr("Please remove the receivers you do not wish\nto update right now."),
                              qsTr("Please remove the headsets you do not wish\nto update right now."))
    }

    Row {
        id: pictures
        anchors.top: body.bottom
        anchors.bottom: button.top
        anchors.margins: 2 * Theme.layoutSpacing
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 24

        Repeater {
            model: 2
            Image {
                height: pictures.height
                width: implicitWidth * height / Math.max(1, implicitHeight)
                fillMode: Image.PreserveAspectFit
                smooth: true
                mipmap: true
                // Scaled to the free height; the triple-resolution file keeps it sharp.
                source: page.isHeadset ? "qrc:/images/device/headset@3x.png" : "qrc:/images/device/dongle@3x.png"
            }
        }
    }

    ArcaButton {
        id: button
        objectName: "tryAgainButton"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        text: qsTr("TRY AGAIN")
        highlighted: true
        onClicked: page.tryAgainClicked()
    }
}
