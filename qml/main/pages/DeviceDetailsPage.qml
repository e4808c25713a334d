import QtQuick 2.12
import Arca.Theme 1.0
import "../Utils.js" as Utils
import "../controls"

// Layout shared by the receiver, receiver-with-pairing and headset pages: title, text, the device
// picture with its firmware versions, and a row of buttons given by the page.
FamilyPage {
    id: page

    property bool dfu: false
    property string version: ""
    property string availableVersion: ""

    readonly property bool updateAvailable: Utils.parseVersion(availableVersion) > Utils.parseVersion(version)
    readonly property bool upToDate: !updateAvailable

    property alias titleText: title.text
    property alias bodyText: body.text
    property alias imageSource: picture.source
    property int versionRowOffset: 40

    property alias buttons: buttonRow.data

    signal easterEggClicked()
    signal backClicked()

    title: titleText

    header: BackHeader {
        onClicked: page.backClicked()
    }

    Keys.onEscapePressed: page.backClicked()

    ArcaLabel {
        id: title
        objectName: "titleLabel"
        focus: true
        accessibleHeading: true
        anchors.top: parent.top
        anchors.topMargin: 20
        anchors.left: parent.left
        anchors.right: parent.right
        horizontalAlignment: Text.AlignHCenter
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
        font.bold: true
    }

    ArcaLabel {
        id: body
        objectName: "bodyLabel"
        anchors.top: title.bottom
        anchors.topMargin: Theme.layoutSpacing
        anchors.left: parent.left
        anchors.right: parent.right
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.NoWrap
    }

    Item {
        id: pictureArea
        anchors.top: body.bottom
        anchors.bottom: buttonRow.top
        anchors.left: parent.left
        anchors.right: parent.right

        Image {
            id: picture
            objectName: "devicePicture"
            anchors.centerIn: parent
            anchors.verticalCenterOffset: -12
        }

        VersionRow {
            objectName: "versionRow"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: picture.verticalCenter
            anchors.topMargin: page.versionRowOffset
            version: page.version
            availableVersion: page.availableVersion
            upToDate: page.upToDate
            updateAvailable: page.updateAvailable
            onEasterEggClicked: page.easterEggClicked()
        }
    }

    Row {
        id: buttonRow
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 2 * Theme.layoutSpacing
    }
}
