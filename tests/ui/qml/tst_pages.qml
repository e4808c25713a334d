import QtQuick 2.12
import QtTest 1.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "../../../qml/main/pages"

Item {
    id: scene
    width: 520
    height: 422

    readonly property int sorrelReceiver: UIFirmwareUpdateMediator.SorrelReceiver
    readonly property int plusReceiver: UIFirmwareUpdateMediator.SorrelPlusReceiver
    readonly property int sorrelHeadset: UIFirmwareUpdateMediator.SorrelHeadset
    readonly property int plusHeadset: UIFirmwareUpdateMediator.SorrelPlusHeadset

    Component { id: welcomeComponent; WelcomePage { anchors.fill: parent } }
    Component { id: receiverComponent; ReceiverPage { anchors.fill: parent } }
    Component { id: pairwellComponent; ReceiverPairwellPage { anchors.fill: parent } }
    Component { id: headsetComponent; HeadsetPage { anchors.fill: parent } }
    Component { id: multiComponent; MultiDevicePage { anchors.fill: parent } }
    Component { id: repairComponent; RepairPage { anchors.fill: parent } }
    Component { id: noDeviceRepairComponent; NoDeviceRepairPage { anchors.fill: parent } }
    Component { id: progressComponent; ProgressPage { anchors.fill: parent } }
    Component { id: finalComponent; FinalPage { anchors.fill: parent } }
    Component { id: errorComponent; ErrorPage { anchors.fill: parent } }
    Component { id: errorReceiverComponent; ErrorReceiverUpdatePage { anchors.fill: parent } }
    Component { id: spyComponent; SignalSpy {} }

    TestCase {
        id: test
        name: "Pages"
        when: windowShown

        function page(component, properties) {
            var item = createTemporaryObject(component, scene, properties || {})
            verify(item, "page created")
            return item
        }

        function child(item, objectName) {
            var found = findChild(item, objectName)
            verify(found, objectName + " exists")
            return found
        }

        function spy(target, signalName) {
            return createTemporaryObject(spyComponent, scene, { target: target, signalName: signalName })
        }

        // Shown means visible on screen, which needs the whole chain of parents to be visible.
        function shown(item, objectName) {
            var found = findChild(item, objectName)
            return found !== null && found.visible
        }

        function test_deviceButtons_data() {
            var R = receiverComponent, P = pairwellComponent, H = headsetComponent
            // repair, dfuDone, update, done, addDevice: shown; updateEnabled
            return [
                { tag: "receiver dfu, nothing offered", c: R, dfu: true, v: "", a: "",
                  shown: { repairButton: false, dfuDoneButton: true, updateButton: true, doneButton: false },
                  updateEnabled: false },
                { tag: "receiver dfu, image offered", c: R, dfu: true, v: "", a: "1.46",
                  shown: { repairButton: false, dfuDoneButton: true, updateButton: true, doneButton: false },
                  updateEnabled: true },
                { tag: "receiver up to date", c: R, dfu: false, v: "1.46", a: "1.46",
                  shown: { repairButton: true, dfuDoneButton: false, updateButton: false, doneButton: true } },
                { tag: "receiver newer offered", c: R, dfu: false, v: "1.45", a: "1.46",
                  shown: { repairButton: true, dfuDoneButton: false, updateButton: true, doneButton: false },
                  updateEnabled: true },
                { tag: "receiver older offered", c: R, dfu: false, v: "1.47", a: "1.46",
                  shown: { repairButton: true, dfuDoneButton: false, updateButton: false, doneButton: true } },
                { tag: "receiver three-part offer", c: R, dfu: false, v: "1.45", a: "1.46.0",
                  shown: { repairButton: true, dfuDoneButton: false, updateButton: false, doneButton: true } },
                { tag: "receiver dfu three-part offer", c: R, dfu: true, v: "", a: "1.46.0",
                  shown: { repairButton: false, dfuDoneButton: true, updateButton: true, doneButton: false },
                  updateEnabled: false },
                { tag: "receiver unknown version, offer", c: R, dfu: false, v: "", a: "1.46",
                  shown: { repairButton: true, dfuDoneButton: false, updateButton: true, doneButton: false },
                  updateEnabled: true },
                { tag: "pairwell dfu", c: P, dfu: true, v: "", a: "1.46",
                  shown: { repairButton: false, addDeviceButton: false, updateButton: true }, updateEnabled: true },
                { tag: "pairwell dfu, nothing offered", c: P, dfu: true, v: "", a: "",
                  shown: { repairButton: false, addDeviceButton: false, updateButton: true }, updateEnabled: false },
                { tag: "pairwell up to date", c: P, dfu: false, v: "2.3", a: "",
                  shown: { repairButton: true, addDeviceButton: true, updateButton: false } },
                { tag: "pairwell newer offered", c: P, dfu: false, v: "2.3", a: "2.4",
                  shown: { repairButton: false, addDeviceButton: false, updateButton: true }, updateEnabled: true },
                { tag: "headset dfu", c: H, dfu: true, v: "", a: "",
                  shown: { updateButton: true, doneButton: false }, updateEnabled: false },
                { tag: "headset up to date", c: H, dfu: false, v: "1.46", a: "1.46",
                  shown: { updateButton: false, doneButton: true } },
                { tag: "headset newer offered", c: H, dfu: false, v: "1.45", a: "1.46",
                  shown: { updateButton: true, doneButton: false }, updateEnabled: true },
            ]
        }

        function test_deviceButtons(data) {
            var item = page(data.c, { dfu: data.dfu, version: data.v, availableVersion: data.a })
            for (var name in data.shown)
                compare(shown(item, name), data.shown[name], name)
            if (data.updateEnabled !== undefined)
                compare(child(item, "updateButton").enabled, data.updateEnabled, "update enabled")
            verify(!findChild(item, "addDeviceButton") || data.c === pairwellComponent)
            if (data.c === pairwellComponent)
                verify(!findChild(item, "doneButton") && !findChild(item, "dfuDoneButton"), "no DONE button")
        }

        function test_deviceTexts_data() {
            return [
                { tag: "receiver dfu", c: receiverComponent, dfu: true, v: "", a: "1.46",
                  title: "Receiver", body: "Your receiver can’t be paired during the\nupdate." },
                { tag: "receiver up to date", c: receiverComponent, dfu: false, v: "1.46", a: "",
                  title: "Receiver", body: "Your receiver is up to date.\nYou can still re-pair your headset." },
                { tag: "receiver offer", c: receiverComponent, dfu: false, v: "1.45", a: "1.46",
                  title: "Receiver", body: "Please choose an option to begin." },
                { tag: "pairwell dfu", c: pairwellComponent, dfu: true, v: "", a: "",
                  title: "Pairwell™ + Audio Receiver", body: "Your receiver can’t be paired during the\nupdate." },
                { tag: "pairwell up to date", c: pairwellComponent, dfu: false, v: "1.46", a: "",
                  title: "Pairwell™ + Audio Receiver",
                  body: "You can reconnect your headset and add up\nto six Pairwell™ wireless products to\nthe receiver. " },
                { tag: "pairwell offer", c: pairwellComponent, dfu: false, v: "1.45", a: "1.46",
                  title: "Pairwell™ + Audio Receiver",
                  body: "Please update your receiver before\nreconnecting or adding devices." },
                { tag: "headset up to date", c: headsetComponent, dfu: false, v: "1.46", a: "",
                  title: "Headset", body: "Your headset is already up to date." },
                { tag: "headset offer", c: headsetComponent, dfu: false, v: "1.45", a: "1.46",
                  title: "Headset", body: "Make sure your headset stays plugged via USB cable\nduring the update." },
            ]
        }

        function test_deviceTexts(data) {
            var item = page(data.c, { dfu: data.dfu, version: data.v, availableVersion: data.a })
            compare(child(item, "titleLabel").text, data.title)
            compare(child(item, "bodyLabel").text, data.body)
        }

        function test_versionRow_data() {
            return [
                { tag: "known, up to date", v: "1.46", a: "1.46", label: "Firmware Version: 1.46",
                  check: true, available: false },
                { tag: "empty version", v: "", a: "", label: "Firmware Version: Unknown", check: true, available: false },
                { tag: "empty version, offer", v: "", a: "1.46", label: "Firmware Version: Unknown",
                  check: false, available: true },
                { tag: "offer", v: "1.45", a: "1.46", label: "Firmware Version: 1.45", check: false, available: true },
            ]
        }

        function test_versionRow(data) {
            var components = [receiverComponent, pairwellComponent, headsetComponent]
            for (var i = 0; i < components.length; ++i) {
                var item = page(components[i], { version: data.v, availableVersion: data.a })
                compare(child(item, "versionLabel").text, data.label)
                compare(shown(item, "doneCheck"), data.check, "check mark")
                compare(shown(item, "availableLabel"), data.available, "available label")
                if (data.available)
                    compare(child(item, "availableLabel").text, data.a + " available")
            }
        }

        function test_onlyAltClickOpensTheFileChooser_data() {
            return [
                { tag: "receiver version", c: receiverComponent, label: "versionLabel" },
                { tag: "receiver available", c: receiverComponent, label: "availableLabel" },
                { tag: "pairwell version", c: pairwellComponent, label: "versionLabel" },
                { tag: "headset version", c: headsetComponent, label: "versionLabel" },
                { tag: "headset available", c: headsetComponent, label: "availableLabel" },
            ]
        }

        function test_onlyAltClickOpensTheFileChooser(data) {
            var item = page(data.c, { version: "1.45", availableVersion: "1.46" })
            var eggs = spy(item, "easterEggClicked")
            var label = child(item, data.label)
            waitForRendering(item)
            mouseClick(label)
            mouseClick(label, label.width / 2, label.height / 2, Qt.LeftButton, Qt.ControlModifier)
            mouseClick(label, label.width / 2, label.height / 2, Qt.RightButton, Qt.AltModifier)
            compare(eggs.count, 0, "plain, Ctrl- and right clicks do nothing")
            mouseClick(label, label.width / 2, label.height / 2, Qt.LeftButton, Qt.AltModifier)
            compare(eggs.count, 1)
        }

        function test_buttonsEmitTheirSignals_data() {
            return [
                { tag: "receiver update", c: receiverComponent, p: { version: "1.45", availableVersion: "1.46" },
                  button: "updateButton", signal: "updateClicked" },
                { tag: "receiver reconnect", c: receiverComponent, p: {}, button: "repairButton", signal: "repairClicked" },
                { tag: "receiver done", c: receiverComponent, p: {}, button: "doneButton", signal: "doneClicked" },
                { tag: "receiver dfu done", c: receiverComponent, p: { dfu: true }, button: "dfuDoneButton",
                  signal: "doneClicked" },
                { tag: "receiver back", c: receiverComponent, p: {}, button: "backButton", signal: "backClicked" },
                { tag: "pairwell add", c: pairwellComponent, p: {}, button: "addDeviceButton", signal: "addClicked" },
                { tag: "pairwell reconnect", c: pairwellComponent, p: {}, button: "repairButton", signal: "repairClicked" },
                { tag: "headset done", c: headsetComponent, p: {}, button: "doneButton", signal: "doneClicked" },
                { tag: "headset back", c: headsetComponent, p: {}, button: "backButton", signal: "backClicked" },
                { tag: "multi try again", c: multiComponent, p: { deviceType: sorrelReceiver }, button: "tryAgainButton",
                  signal: "tryAgainClicked" },
                { tag: "multi back", c: multiComponent, p: { deviceType: sorrelReceiver }, button: "backButton",
                  signal: "backClicked" },
                { tag: "repair next", c: repairComponent, p: { deviceType: sorrelReceiver }, button: "nextButton",
                  signal: "nextClicked" },
                { tag: "repair back", c: repairComponent, p: { deviceType: sorrelReceiver }, button: "backButton",
                  signal: "backClicked" },
                { tag: "no device try again", c: noDeviceRepairComponent, p: { deviceType: sorrelReceiver },
                  button: "tryAgainButton", signal: "tryAgainClicked" },
                { tag: "no device back", c: noDeviceRepairComponent, p: { deviceType: sorrelReceiver },
                  button: "backButton", signal: "backClicked" },
                { tag: "final done", c: finalComponent, p: {}, button: "doneButton", signal: "doneClicked" },
                { tag: "error done", c: errorComponent, p: { deviceType: sorrelHeadset }, button: "doneButton",
                  signal: "doneClicked" },
                { tag: "receiver error try again", c: errorReceiverComponent, p: { deviceType: sorrelReceiver },
                  button: "tryAgainButton", signal: "tryAgainClicked" },
            ]
        }

        function test_buttonsEmitTheirSignals(data) {
            var item = page(data.c, data.p)
            var clicks = spy(item, data.signal)
            var button = child(item, data.button)
            waitForRendering(item)
            verify(button.visible && button.enabled, "clickable")
            mouseClick(button)
            compare(clicks.count, 1)
        }

        function test_disabledUpdateDoesNotEmit() {
            var item = page(receiverComponent, { dfu: true })
            var clicks = spy(item, "updateClicked")
            waitForRendering(item)
            mouseClick(child(item, "updateButton"))
            compare(clicks.count, 0)
        }

        function test_progressTitles_data() {
            var S = UIFirmwareUpdateMediator
            return [
                { tag: "none", status: S.None, type: sorrelReceiver, title: "" },
                { tag: "started", status: S.Started, type: sorrelHeadset, title: "Getting started..." },
                { tag: "updating receiver", status: S.Updating, type: sorrelReceiver, title: "Updating your receiver..." },
                { tag: "updating plus receiver", status: S.Updating, type: plusReceiver, title: "Updating your receiver..." },
                { tag: "updating headset", status: S.Updating, type: plusHeadset, title: "Updating your headset..." },
                { tag: "repairing receiver", status: S.Repairing, type: sorrelReceiver,
                  title: "Reconnecting your receiver..." },
                { tag: "repairing headset", status: S.Repairing, type: sorrelHeadset, title: "Reconnecting your headset..." },
                { tag: "rebooting receiver", status: S.Rebooting, type: plusReceiver, title: "Rebooting your receiver..." },
                { tag: "rebooting headset", status: S.Rebooting, type: sorrelHeadset, title: "Rebooting your headset..." },
                { tag: "finished", status: S.Finished, type: sorrelReceiver, title: "" },
                { tag: "canceled", status: S.Canceled, type: sorrelReceiver, title: "" },
                { tag: "timeout", status: S.Timeout, type: sorrelReceiver, title: "" },
                { tag: "failed", status: S.Failed, type: sorrelHeadset, title: "" },
                { tag: "device error", status: S.DeviceError, type: sorrelReceiver, title: "" },
                { tag: "file error", status: S.FileError, type: sorrelReceiver, title: "" },
            ]
        }

        function test_progressTitles(data) {
            var item = page(progressComponent, { deviceType: data.type, status: data.status })
            compare(child(item, "titleLabel").text, data.title)
            compare(child(item, "bodyLabel").text, internalFamily(data.type,
                    "Please keep your receiver plugged in during the\nentire process.",
                    "Please keep your headset plugged in during the\nentire process."))
        }

        function internalFamily(type, receiverText, headsetText) {
            return type === sorrelReceiver || type === plusReceiver ? receiverText : headsetText
        }

        function test_progressSpinnerUntilFirstValue() {
            var item = page(progressComponent, { deviceType: sorrelReceiver })
            verify(shown(item, "busyIndicator"))
            verify(!shown(item, "progressBar"))
            item.indeterminate = false
            item.percents = 40
            verify(!shown(item, "busyIndicator"))
            verify(shown(item, "progressBar"))
            compare(child(item, "progressBar").value, 40)
        }

        function test_familyTexts_data() {
            return [
                { tag: "multi receivers", c: multiComponent, type: plusReceiver,
                  title: "You have more than one\nreceiver plugged in...",
                  body: "Please remove the receivers you do not wish\nto update right now." },
                { tag: "multi headsets", c: multiComponent, type: sorrelHeadset,
                  title: "You have more than one\nheadset plugged in...",
                  body: "Please remove the headsets you do not wish\nto update right now." },
                { tag: "error receiver", c: errorComponent, type: sorrelReceiver, title: "Something went wrong...",
                  body: "Please keep your receiver plugged in during the\nentire process." },
                { tag: "error headset", c: errorComponent, type: plusHeadset, title: "Something went wrong...",
                  body: "Please keep your headset plugged in during the\nentire process." },
                { tag: "no device repair", c: noDeviceRepairComponent, type: sorrelReceiver,
                  title: "Hmm. We’re not seeing your\nheadset...",
                  body: "Please make sure you pressed\nthe pairing mode button and\nyour device is blinking." },
            ]
        }

        function test_familyTexts(data) {
            var item = page(data.c, { deviceType: data.type })
            compare(child(item, "titleLabel").text, data.title)
            compare(child(item, "bodyLabel").text, data.body)
        }

        function test_unknownTypeGivesEmptyFamilyText() {
            // The page also raises the console assertion "unknown device type - 0" (a critical message).
            var item = page(errorComponent, {})
            compare(child(item, "bodyLabel").text, "")
        }

        function test_welcome_data() {
            var U = UIFirmwareUpdateMediator.Unknown
            var some = "Choose a product to begin. Please connect\nyour headset via USB cable to update."
            var none = "Please connect a product to start. Headset\nshould be connected via USB cable to update."
            return [
                { tag: "nothing connected", r: U, h: U, rn: true, hn: true, body: none,
                  receiver: false, headset: false, receiverNotice: false, headsetNotice: false },
                { tag: "receiver only, notice", r: sorrelReceiver, h: U, rn: true, hn: true, body: some,
                  receiver: true, headset: false, receiverNotice: true, headsetNotice: false },
                { tag: "headset only", r: U, h: plusHeadset, rn: false, hn: false, body: some,
                  receiver: false, headset: true, receiverNotice: false, headsetNotice: false },
                { tag: "both, headset notice", r: plusReceiver, h: sorrelHeadset, rn: false, hn: true, body: some,
                  receiver: true, headset: true, receiverNotice: false, headsetNotice: true },
            ]
        }

        function test_welcome(data) {
            var item = page(welcomeComponent, { receiverType: data.r, headsetType: data.h,
                                                receiverUpdateNotification: data.rn,
                                                headsetUpdateNotification: data.hn })
            compare(child(item, "titleLabel").text, "The latest and greatest.")
            compare(child(item, "bodyLabel").text, data.body)
            var receiverTile = child(item, "receiverTile")
            var headsetTile = child(item, "headsetTile")
            compare(receiverTile.enabled, data.receiver)
            compare(headsetTile.enabled, data.headset)
            compare(shown(receiverTile, "updateAvailableLabel"), data.receiverNotice)
            compare(shown(headsetTile, "updateAvailableLabel"), data.headsetNotice)
            compare(shown(receiverTile, "missingLabel"), !data.receiver)
            compare(shown(headsetTile, "missingLabel"), !data.headset)

            var receiverClicks = spy(item, "receiverClicked")
            var headsetClicks = spy(item, "headsetClicked")
            waitForRendering(item)
            mouseClick(receiverTile)
            mouseClick(headsetTile)
            compare(receiverClicks.count, data.receiver ? 1 : 0)
            compare(headsetClicks.count, data.headset ? 1 : 0)
        }

        function test_welcomeTileHover() {
            var item = page(welcomeComponent, { receiverType: sorrelReceiver, receiverUpdateNotification: true })
            var tile = child(item, "receiverTile")
            var notice = findChild(tile, "updateAvailableLabel")
            waitForRendering(item)
            mouseMove(item, 1, 1)
            compare(String(tile.background.color), String(Qt.rgba(0, 0, 0, 0.06)))
            compare(String(notice.color), String(Theme.fontColorEnabled))
            mouseMove(tile, tile.width / 2, tile.height / 2)
            tryCompare(tile, "hovered", true)
            compare(String(tile.background.color), String(Qt.rgba(1, 1, 1, 0.9)))
            compare(String(notice.color), String(Theme.fontColorHovered))
        }

        function test_keys_data() {
            var R = receiverComponent, offer = { version: "1.45", availableVersion: "1.46" }
            var receiver = { deviceType: sorrelReceiver }
            return [
                { tag: "Enter on UPDATE", c: R, p: offer, focus: "updateButton", key: Qt.Key_Return,
                  signal: "updateClicked", count: 1 },
                { tag: "keypad Enter on RECONNECT", c: R, p: offer, focus: "repairButton", key: Qt.Key_Enter,
                  signal: "repairClicked", count: 1 },
                { tag: "Space on DONE", c: headsetComponent, p: {}, focus: "doneButton", key: Qt.Key_Space,
                  signal: "doneClicked", count: 1 },
                { tag: "Enter on a tile", c: welcomeComponent, p: { headsetType: sorrelHeadset }, focus: "headsetTile",
                  key: Qt.Key_Return, signal: "headsetClicked", count: 1 },
                { tag: "Escape on receiver", c: R, p: offer, key: Qt.Key_Escape, signal: "backClicked", count: 1 },
                { tag: "Escape on headset", c: headsetComponent, p: {}, focus: "doneButton", key: Qt.Key_Escape,
                  signal: "backClicked", count: 1 },
                { tag: "Escape on multi", c: multiComponent, p: receiver, key: Qt.Key_Escape, signal: "backClicked",
                  count: 1 },
                { tag: "Escape on repair", c: repairComponent, p: receiver, key: Qt.Key_Escape, signal: "backClicked",
                  count: 1 },
                { tag: "Escape on no device", c: noDeviceRepairComponent, p: receiver, key: Qt.Key_Escape,
                  signal: "backClicked", count: 1 },
                { tag: "Escape on final", c: finalComponent, p: {}, key: Qt.Key_Escape, signal: "doneClicked", count: 0 },
                { tag: "Alt+Enter on version", c: R, p: offer, focus: "versionLabel", key: Qt.Key_Return,
                  modifiers: Qt.AltModifier, signal: "easterEggClicked", count: 1 },
                { tag: "Alt+keypad Enter on available", c: R, p: offer, focus: "availableLabel", key: Qt.Key_Enter,
                  modifiers: Qt.AltModifier | Qt.KeypadModifier, signal: "easterEggClicked", count: 1 },
                { tag: "plain Enter on version", c: R, p: offer, focus: "versionLabel", key: Qt.Key_Return,
                  signal: "easterEggClicked", count: 0 },
                { tag: "Ctrl+Enter on version", c: R, p: offer, focus: "versionLabel", key: Qt.Key_Return,
                  modifiers: Qt.ControlModifier, signal: "easterEggClicked", count: 0 },
            ]
        }

        function test_keys(data) {
            var item = page(data.c, data.p)
            var signals = spy(item, data.signal)
            waitForRendering(item)
            if (data.focus)
                child(item, data.focus).forceActiveFocus(Qt.TabFocusReason)
            else
                item.forceActiveFocus()
            keyClick(data.key, data.modifiers || Qt.NoModifier)
            compare(signals.count, data.count)
        }

        // Tab walks the page in reading order and rings what it reaches; a click takes the focus unringed.
        function test_focusRingOnlyForTheKeyboard() {
            var item = page(receiverComponent, { version: "1.45", availableVersion: "1.46" })
            waitForRendering(item)
            item.forceActiveFocus()
            compare(child(item, "titleLabel").activeFocus, true, "the title holds the page's focus")
            var update = child(item, "updateButton")
            mouseClick(update)
            verify(update.activeFocus)
            compare(child(update, "focusRing").visible, false, "no ring after a click")
            var order = ["backButton", "versionLabel", "availableLabel", "repairButton", "updateButton"]
            for (var i = 0; i < order.length; ++i) {
                keyClick(Qt.Key_Tab)
                var focused = child(item, order[i])
                verify(focused.activeFocus, order[i] + " has the focus")
                compare(child(focused, "focusRing").visible, true, order[i] + " ringed")
                if (i > 0)
                    compare(child(child(item, order[i - 1]), "focusRing").visible, false, "ring moved on")
            }
        }

        function test_helpLinkByKeyboard_data() {
            return [
                { tag: "receiver error, Enter", c: errorReceiverComponent, key: Qt.Key_Return },
                { tag: "no device, Space", c: noDeviceRepairComponent, key: Qt.Key_Space },
            ]
        }

        function test_helpLinkByKeyboard(data) {
            OpenedUrls.clear()
            var item = page(data.c, { deviceType: sorrelReceiver })
            waitForRendering(item)
            child(item, "tryAgainButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Tab)
            var link = child(item, "helpLink")
            verify(child(link, "linkArea").activeFocus, "the link follows TRY AGAIN")
            keyClick(data.key)
            compare(OpenedUrls.urls, ["https://support.arca.example/hc/en-us"])
            mouseClick(link)
            compare(OpenedUrls.urls.length, 2, "the mouse still opens it")
        }

        function test_receiverPictureFollowsTheType() {
            var item = page(errorReceiverComponent, { deviceType: plusReceiver })
            compare(child(item, "receiverPicture").source, "qrc:/images/device/dongle_su.png")
            item = page(errorReceiverComponent, { deviceType: sorrelReceiver })
            compare(child(item, "receiverPicture").source, "qrc:/images/device/dongle.png")
        }
    }
}
