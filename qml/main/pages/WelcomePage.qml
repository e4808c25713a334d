import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

ArcaPage {
    id: page
    objectName: "welcomePage"

    title: heading.text

    property int receiverType: UIFirmwareUpdateMediator.Unknown
    property int headsetType: UIFirmwareUpdateMediator.Unknown
    property bool receiverUpdateNotification: false
    property bool headsetUpdateNotification: false
    // False while the page's creator is still choosing its device types: the pictures follow the types,
    // and the empty tiles' pictures, decoded first and replaced before the first frame, would cost the
    // start-up three needless decodes.
    property bool devicesSettled: true

    signal receiverClicked()
    signal headsetClicked()

    background: null
    header: LogoHeader {}

    Column {
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: Theme.layoutSpacing

        ArcaLabel {
            id: heading
            objectName: "titleLabel"
            focus: true
            accessibleHeading: true
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("The latest and greatest.")
            font.family: Theme.fontFamilyTitle
            font.pixelSize: Theme.fontSizeTitle
            font.bold: true
        }

        ArcaLabel {
            objectName: "bodyLabel"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            lineHeight: 1.2
            text: page.receiverType !== UIFirmwareUpdateMediator.Unknown
                  || page.headsetType !== UIFirmwareUpdateMediator.Unknown
                  ? qsTr("Choose a product to begin. Please connect\nyour headset via USB cable to update.")
                  : qsTr("Please connect a product to start. Headset\nshould be connected via USB cable to update.")
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            topPadding: 20
            bottomPadding: 20
            leftPadding: 40
            rightPadding: 40
            spacing: 40

            DeviceTile {
                id: receiverTile
                objectName: "receiverTile"
                enabled: page.receiverType !== UIFirmwareUpdateMediator.Unknown
                notification: page.receiverUpdateNotification
                missingText: qsTr("No receiver\nconnected")
                deviceName: page.receiverType === UIFirmwareUpdateMediator.SorrelPlusReceiver
                            ? qsTr("Pairwell™ + Audio Receiver") : qsTr("Receiver")
                onClicked: page.receiverClicked()

                // The tiles show the receivers larger than the device pages. The picture provider
                // decodes each at the size it is drawn, from the variant that has the pixels.
                Image {
                    anchors.centerIn: parent
                    width: 60
                    height: 113
                    sourceSize: Qt.size(width, height)
                    visible: parent.enabled
                    source: !page.devicesSettled || !parent.enabled ? ""
                            : page.receiverType === UIFirmwareUpdateMediator.SorrelPlusReceiver
                              ? "image://picture/images/device/dongle_su.png"
                              : "image://picture/images/device/dongle.png"
                }
                Row {
                    anchors.centerIn: parent
                    anchors.verticalCenterOffset: -18
                    spacing: 14
                    visible: !parent.enabled
                    opacity: 0.25
                    Image {
                        width: 50
                        height: 94
                        sourceSize: Qt.size(width, height)
                        source: page.devicesSettled && !receiverTile.enabled
                                ? "image://picture/images/device/dongle.png" : ""
                    }
                    Image {
                        width: 50
                        height: 94
                        sourceSize: Qt.size(width, height)
                        source: page.devicesSettled && !receiverTile.enabled
                                ? "image://picture/images/device/dongle_su.png" : ""
                    }
                }
            }

            DeviceTile {
                objectName: "headsetTile"
                enabled: page.headsetType !== UIFirmwareUpdateMediator.Unknown
                notification: page.headsetUpdateNotification
                missingText: qsTr("No headset\nconnected")
                deviceName: qsTr("Headset")
                onClicked: page.headsetClicked()

                Image {
                    anchors.centerIn: parent
                    anchors.verticalCenterOffset: parent.enabled ? -6 : -20
                    width: parent.enabled ? 130 : 104
                    height: width
                    sourceSize: Qt.size(width, height)
                    source: page.devicesSettled ? "image://picture/images/device/headset.png" : ""
                    opacity: parent.enabled ? 1 : 0.25
                }
            }
        }
    }
}
