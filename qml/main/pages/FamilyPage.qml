import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../controls"

// A page about one kind of device whose texts come in a receiver and a headset form.
ArcaPage {
    id: page

    property int deviceType: UIFirmwareUpdateMediator.Unknown

    readonly property bool isReceiver: deviceType === UIFirmwareUpdateMediator.SorrelReceiver
                                       || deviceType === UIFirmwareUpdateMediator.SorrelPlusReceiver
    readonly property bool isHeadset: deviceType === UIFirmwareUpdateMediator.SorrelHeadset
                                      || deviceType === UIFirmwareUpdateMediator.SorrelPlusHeadset

    function familyText(receiverText, headsetText) {
        if (isReceiver)
            return receiverText
        if (isHeadset)
            return headsetText
        console.assert(false, "unknown device type - " + deviceType)
        return ""
    }

    background: null
}
