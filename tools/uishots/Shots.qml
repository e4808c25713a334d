import QtQuick 2.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0

Rectangle {
    id: root

    readonly property int count: shots.length
    readonly property var shots: {
        var E = UIFirmwareUpdateMediator
        return [
            { name: "01-welcome-nothing", page: "WelcomePage", p: {} },
            { name: "02-welcome-sorrel", page: "WelcomePage",
              p: { receiverType: E.SorrelReceiver, headsetType: E.SorrelHeadset, receiverUpdateNotification: true } },
            { name: "03-welcome-plus", page: "WelcomePage",
              p: { receiverType: E.SorrelPlusReceiver, headsetType: E.SorrelPlusHeadset, headsetUpdateNotification: true },
              hover: "headsetTile" },
            { name: "04-receiver-offer", page: "ReceiverPage",
              p: { deviceType: E.SorrelReceiver, version: "1.45", availableVersion: "1.46" } },
            { name: "05-receiver-uptodate", page: "ReceiverPage",
              p: { deviceType: E.SorrelReceiver, version: "1.46", availableVersion: "1.46" } },
            { name: "06-receiver-dfu", page: "ReceiverPage", p: { deviceType: E.SorrelReceiver, dfu: true } },
            { name: "07-pairwell-offer", page: "ReceiverPairwellPage",
              p: { deviceType: E.SorrelPlusReceiver, version: "2.3", availableVersion: "2.4" } },
            { name: "08-pairwell-uptodate", page: "ReceiverPairwellPage",
              p: { deviceType: E.SorrelPlusReceiver, version: "2.4" } },
            { name: "09-pairwell-dfu", page: "ReceiverPairwellPage",
              p: { deviceType: E.SorrelPlusReceiver, dfu: true, availableVersion: "2.4" } },
            { name: "10-headset-offer", page: "HeadsetPage",
              p: { deviceType: E.SorrelHeadset, version: "1.45", availableVersion: "1.46" } },
            { name: "11-headset-uptodate", page: "HeadsetPage",
              p: { deviceType: E.SorrelPlusHeadset, version: "3.1", availableVersion: "" } },
            { name: "12-headset-dfu", page: "HeadsetPage", p: { deviceType: E.SorrelHeadset, dfu: true } },
            { name: "13-multi-receiver", page: "MultiDevicePage", p: { deviceType: E.SorrelReceiver } },
            { name: "14-multi-headset", page: "MultiDevicePage", p: { deviceType: E.SorrelPlusHeadset } },
            { name: "15-repair", page: "RepairPage", p: { deviceType: E.SorrelReceiver } },
            { name: "16-nodevicerepair", page: "NoDeviceRepairPage", p: { deviceType: E.SorrelPlusReceiver } },
            { name: "17-progress-started", page: "ProgressPage",
              p: { deviceType: E.SorrelReceiver, status: E.Started } },
            { name: "18-progress-updating", page: "ProgressPage",
              p: { deviceType: E.SorrelReceiver, status: E.Updating, indeterminate: false, percents: 40 } },
            { name: "19-progress-rebooting-headset", page: "ProgressPage",
              p: { deviceType: E.SorrelPlusHeadset, status: E.Rebooting, indeterminate: false, percents: 100 } },
            { name: "20-progress-repairing", page: "ProgressPage",
              p: { deviceType: E.SorrelPlusReceiver, status: E.Repairing } },
            { name: "21-final", page: "FinalPage", p: {} },
            { name: "22-error-headset", page: "ErrorPage", p: { deviceType: E.SorrelHeadset } },
            { name: "23-error-receiver-update-sorrel", page: "ErrorReceiverUpdatePage",
              p: { deviceType: E.SorrelReceiver } },
            { name: "24-error-receiver-update-plus", page: "ErrorReceiverUpdatePage",
              p: { deviceType: E.SorrelPlusReceiver } },
        ]
    }

    width: 520
    height: 422
    color: Theme.colorPurple

    Loader {
        id: loader
        anchors.fill: parent
    }

    function show(index) {
        var shot = shots[index]
        loader.setSource("qrc:/pages/" + shot.page + ".qml", shot.p)
        return shot.name
    }

    // Where the mouse should rest for this shot, in window coordinates; (-1, -1) for nowhere.
    function hoverPoint(index) {
        var target = shots[index].hover ? findByName(loader.item, shots[index].hover) : null
        return target ? target.mapToItem(root, target.width / 2, target.height / 2) : Qt.point(-1, -1)
    }

    function findByName(item, name) {
        if (!item)
            return null
        if (item.objectName === name)
            return item
        for (var i = 0; i < item.children.length; ++i) {
            var found = findByName(item.children[i], name)
            if (found)
                return found
        }
        return null
    }
}
