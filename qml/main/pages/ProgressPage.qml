import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

// Shown while an update or a repair runs; there is deliberately no way to cancel from here.
FamilyPage {
    id: page
    objectName: "progressPage"

    property int status: UIFirmwareUpdateMediator.None
    property alias percents: progressBar.value
    property bool indeterminate: true

    title: heading.text

    Column {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: -10
        width: parent.width
        spacing: 2 * Theme.layoutSpacing

        Item {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 86
            height: 86

            ArcaBusyIndicator {
                objectName: "busyIndicator"
                anchors.fill: parent
                visible: page.indeterminate
                running: page.indeterminate
                Accessible.name: page.title
            }
            ArcaProgressBar {
                id: progressBar
                objectName: "progressBar"
                anchors.fill: parent
                visible: !page.indeterminate
                from: 0
                to: 100
                Accessible.name: page.title
                // Qt Quick 5.15 gives no value interface to a progress bar; the description carries it, in
                // steps of ten, so that a reader is not made to announce it several times a second.
                Accessible.description: qsTr("%1%").arg(Math.floor(value / 10) * 10)
            }
        }

        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeXLarge
            font.bold: true
            text: {
                switch (page.status) {
                case UIFirmwareUpdateMediator.Started:
                    return qsTr("Getting started...")
                case UIFirmwareUpdateMediator.Updating:
                    return page.familyText(qsTr("Updating your receiver..."), qsTr("Updating your headset..."))
                case UIFirmwareUpdateMediator.Repairing:
                    return page.familyText(qsTr("Reconnecting your receiver..."),
                                           qsTr("Reconnecting your headset..."))
                case UIFirmwareUpdateMediator.Rebooting:
                    return page.familyText(qsTr("Rebooting your receiver..."), qsTr("Rebooting your headset..."))
                }
                return ""
            }
        }

        ArcaLabel {
            objectName: "bodyLabel"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: Theme.fontSizeRegular
            text: page.familyText(qsTr("Please keep your receiver plugged in during the\nentire process."),
                                  qsTr("Please keep your headset plugged in during the\nentire process."))
        }
    }
}
