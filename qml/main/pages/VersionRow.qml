import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

// "Firmware Version: 1.45 - 1.46 available" under a device picture. An Alt-click on either version
// opens the file chooser; a plain click does nothing, so nobody lands there by accident.
Row {
    id: row

    property string version
    property string availableVersion
    property bool upToDate: true
    property bool updateAvailable: false

    signal easterEggClicked()

    spacing: Theme.layoutSpacing / 2

    // Alt+Enter on a focused version is the keyboard's Alt-click; a plain Enter does nothing, as a click.
    function keyPressed(event) {
        event.accepted = (event.modifiers & Qt.AltModifier) !== 0 && !event.isAutoRepeat
        if (event.accepted)
            row.easterEggClicked()
    }

    Item {
        anchors.verticalCenter: parent.verticalCenter
        width: 18
        height: 18
        visible: row.upToDate
        Accessible.role: Accessible.Graphic
        Accessible.name: qsTr("Up to date")
        TintedIcon {
            objectName: "doneCheck"
            anchors.fill: parent
            sourceSize: Qt.size(18, 18)
            picture: "qrc:/images/done_check.png"
            color: Theme.colorWhite
        }
    }
    ArcaLabel {
        objectName: "versionLabel"
        activeFocusOnTab: true
        Keys.onReturnPressed: row.keyPressed(event)
        Keys.onEnterPressed: row.keyPressed(event)
        anchors.verticalCenter: parent.verticalCenter
        text: qsTr("Firmware Version: %1").arg(row.version !== "" ? row.version : qsTr("Unknown"))
        font.pixelSize: Theme.fontSizeXSmall
        color: Theme.fontColorDisabled

        // A label takes focus only from Tab, so the ring never shows for the mouse.
        FocusRing {
            visible: parent.activeFocus
            anchors.topMargin: 0
            anchors.bottomMargin: 0
        }
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton
            onClicked: {
                if (mouse.modifiers & Qt.AltModifier)
                    row.easterEggClicked()
            }
        }
    }
    ArcaLabel {
        anchors.verticalCenter: parent.verticalCenter
        visible: row.updateAvailable
        text: "-"
        Accessible.ignored: true
        font.pixelSize: Theme.fontSizeXSmall
        color: Theme.fontColorDisabled
    }
    ArcaLabel {
        objectName: "availableLabel"
        activeFocusOnTab: true
        Keys.onReturnPressed: row.keyPressed(event)
        Keys.onEnterPressed: row.keyPressed(event)
        anchors.verticalCenter: parent.verticalCenter
        visible: row.updateAvailable
        text: qsTr("%1 available").arg(row.availableVersion)
        font.pixelSize: Theme.fontSizeXSmall
        font.family: Theme.fontFamilyTitle
        font.bold: true

        FocusRing {
            visible: parent.activeFocus
            anchors.topMargin: 0
            anchors.bottomMargin: 0
        }
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton
            onClicked: {
                if (mouse.modifiers & Qt.AltModifier)
                    row.easterEggClicked()
            }
        }
    }
}
