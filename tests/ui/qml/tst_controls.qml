import QtQuick 2.12
import QtTest 1.12
import Arca.Theme 1.0
import "../../../qml/main/controls"

Item {
    id: scene
    width: 400
    height: 300

    Component {
        id: buttonComponent
        ArcaButton { text: "BUTTON"; x: 20; y: 20 }
    }
    Component {
        id: barComponent
        ArcaProgressBar { x: 200; y: 20; width: 88; height: 88; from: 10; to: 60; lineWidth: 6 }
    }
    Component {
        id: busyComponent
        ArcaBusyIndicator { x: 200; y: 150; width: 80; height: 80 }
    }

    TestCase {
        name: "ArcaButton"
        when: windowShown

        function test_flatBackgroundOnlyWhileMarked_data() {
            return [
                { tag: "flat at rest", flat: true, checked: false, highlighted: false, press: false, shown: false },
                { tag: "flat pressed", flat: true, checked: false, highlighted: false, press: true, shown: true },
                { tag: "flat checked", flat: true, checked: true, highlighted: false, press: false, shown: true },
                { tag: "flat highlighted", flat: true, checked: false, highlighted: true, press: false, shown: true },
                { tag: "plain at rest", flat: false, checked: false, highlighted: false, press: false, shown: true },
            ]
        }

        function test_flatBackgroundOnlyWhileMarked(data) {
            var button = createTemporaryObject(buttonComponent, scene,
                                               { flat: data.flat, checkable: data.checked, checked: data.checked,
                                                 highlighted: data.highlighted })
            verify(button)
            if (data.press)
                mousePress(button)
            compare(button.background.visible, data.shown)
            if (data.press) {
                mouseRelease(button)
                compare(button.background.visible, !data.flat || data.checked || data.highlighted)
            }
        }

        function test_neverHovered() {
            var button = createTemporaryObject(buttonComponent, scene)
            var clicks = signalSpy.createObject(button, { target: button, signalName: "clicked" })
            mouseMove(button, button.width / 2, button.height / 2)
            wait(30)
            compare(button.hovered, false)
            compare(button.background.color, Theme.backgroundColorEnabled)
            compare(button.contentItem.color, Theme.fontColorEnabled)
            mouseClick(button)
            compare(clicks.count, 1)
            compare(button.hovered, false)
        }

        function test_coloursFollowHighlightPressAndEnable_data() {
            var disabledText = Qt.darker(Theme.colorPurple, 1.25)
            return [
                { tag: "enabled", enabled: true, highlighted: false, press: false,
                  text: Theme.fontColorEnabled, back: Theme.backgroundColorEnabled, border: Theme.borderColorEnabled },
                { tag: "pressed but not highlighted", enabled: true, highlighted: false, press: true,
                  text: Theme.fontColorEnabled, back: Theme.backgroundColorEnabled, border: Theme.borderColorEnabled },
                { tag: "highlighted", enabled: true, highlighted: true, press: false,
                  text: Theme.fontColorHovered, back: Theme.backgroundColorHovered, border: Theme.borderColorHovered },
                { tag: "highlighted and pressed", enabled: true, highlighted: true, press: true,
                  text: Theme.fontColorPressed, back: Theme.backgroundColorPressed, border: Theme.borderColorPressed },
                { tag: "disabled", enabled: false, highlighted: false, press: false,
                  text: disabledText, back: Theme.backgroundColorDisabled, border: Theme.borderColorDisabled },
                { tag: "disabled highlighted", enabled: false, highlighted: true, press: false,
                  text: disabledText, back: Theme.backgroundColorDisabled, border: Theme.borderColorDisabled },
            ]
        }

        function test_coloursFollowHighlightPressAndEnable(data) {
            var button = createTemporaryObject(buttonComponent, scene,
                                               { enabled: data.enabled, highlighted: data.highlighted })
            if (data.press)
                mousePress(button)
            // Colours that went through Qt.darker() differ from their own text form only by rounding.
            compare(String(button.contentItem.color), String(data.text), "text")
            compare(String(button.background.color), String(data.back), "background")
            compare(String(button.background.border.color), String(data.border), "border")
            if (data.press)
                mouseRelease(button)
        }

        function test_roundedEndsAndTheme() {
            var button = createTemporaryObject(buttonComponent, scene)
            compare(button.background.radius, button.background.height / 2)
            compare(button.font.family, Theme.fontFamilyTitle)
            compare(button.font.bold, true)
            compare(button.implicitHeight, Theme.controlHeight)
            compare(button.implicitWidth, 160)
        }
    }

    Component {
        id: signalSpy
        SignalSpy {}
    }

    TestCase {
        name: "ArcaProgressBar"
        when: windowShown

        function near(pixel, color) {
            return Math.abs(pixel.r - color.r) < 0.2 && Math.abs(pixel.g - color.g) < 0.2
                    && Math.abs(pixel.b - color.b) < 0.2 && pixel.a > 0.6
        }

        // Points on the ring, in degrees clockwise from twelve o'clock.
        function ringPixel(bar, image, degrees) {
            var canvas = bar.contentItem
            var radius = Math.min(canvas.width, canvas.height) / 2 - bar.lineWidth / 2
            var angle = degrees * Math.PI / 180
            var x = canvas.x + canvas.width / 2 + radius * Math.sin(angle)
            var y = canvas.y + canvas.height / 2 - radius * Math.cos(angle)
            return image.pixel(Math.round(x), Math.round(y))
        }

        function test_arc_data() {
            return [
                { tag: "at from: empty", value: 10, inner: [], outer: [0, 90, 180, 270, 350] },
                { tag: "a quarter", value: 22.5, inner: [5, 45, 80], outer: [135, 180, 270, 330] },
                { tag: "half", value: 35, inner: [10, 90, 170], outer: [200, 270, 340] },
                { tag: "at to: closed", value: 60, inner: [0, 90, 180, 270, 350], outer: [] },
            ]
        }

        function test_arc(data) {
            var bar = createTemporaryObject(barComponent, scene, { value: data.value })
            verify(bar)
            waitForRendering(bar)
            tryVerify(function() {
                var image = grabImage(bar)
                var i
                for (i = 0; i < data.inner.length; ++i) {
                    if (!near(ringPixel(bar, image, data.inner[i]), bar.innerColor))
                        return false
                }
                for (i = 0; i < data.outer.length; ++i) {
                    if (!near(ringPixel(bar, image, data.outer[i]), bar.outerColor))
                        return false
                }
                return true
            }, 3000, "ring colours for value " + data.value)
        }

        function test_repaintsWhenTheValueChanges() {
            var bar = createTemporaryObject(barComponent, scene, { value: 10 })
            waitForRendering(bar)
            tryVerify(function() { return near(ringPixel(bar, grabImage(bar), 90), bar.outerColor) })
            bar.value = 60
            tryVerify(function() { return near(ringPixel(bar, grabImage(bar), 90), bar.innerColor) }, 3000)
        }

        function test_defaults() {
            var bar = createTemporaryObject(barComponent, scene)
            compare(bar.outerColor, Qt.darker(Theme.colorPurple, 1.25))
            compare(bar.innerColor, Theme.colorWhite)
            compare(bar.padding, Theme.controlPadding)
            compare(bar.contentItem.implicitWidth, 70)
        }
    }

    TestCase {
        name: "ArcaBusyIndicator"
        when: windowShown

        // The animator turns the arc on the render thread, so the turn shows only in the frames.
        function frame(busy) {
            var image = grabImage(busy)
            var bar = busy.contentItem
            var cx = bar.x + bar.width / 2, cy = bar.y + bar.height / 2
            var radius = Math.min(bar.contentItem.width, bar.contentItem.height) / 2 - bar.lineWidth / 2
            var lit = []
            for (var degrees = 0; degrees < 360; degrees += 15) {
                var a = degrees * Math.PI / 180
                var p = image.pixel(Math.round(cx + radius * Math.sin(a)), Math.round(cy - radius * Math.cos(a)))
                lit.push(p.r > 0.9 && p.g > 0.9 && p.b > 0.9 ? 1 : 0)
            }
            return lit
        }

        function test_quarterArcTurnsWhileRunning() {
            var busy = createTemporaryObject(busyComponent, scene)
            compare(busy.contentItem.value, 25)
            compare(busy.contentItem.from, 0)
            compare(busy.contentItem.to, 100)
            waitForRendering(busy)
            var first = frame(busy)
            var litCount = first.reduce(function(sum, v) { return sum + v }, 0)
            verify(litCount >= 5 && litCount <= 9, "about a quarter of the ring is lit: " + first)
            tryVerify(function() { return String(frame(busy)) !== String(first) }, 2000, "turning")

            busy.running = false
            wait(100)
            var stopped = frame(busy)
            wait(300)
            compare(String(frame(busy)), String(stopped), "stands still when not running")
        }
    }
}
