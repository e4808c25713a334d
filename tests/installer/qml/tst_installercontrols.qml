import QtQuick 2.12
import QtTest 1.12
import Arca.Theme 1.0
import "qrc:/controls"

// Where the installer's controls differ from the main program's: purple on white, square corners, and a
// three-quarter busy arc whose colours the progress page sets.
TestCase {
    id: testCase
    name: "InstallerControls"
    when: windowShown

    Component { id: buttonComponent; ArcaButton { text: "RETRY" } }
    Component { id: busyComponent; ArcaBusyIndicator {} }

    // Theme colours made with lighter() are held as HSV, which Qt.colorEqual tells apart from the
    // same colour in RGB; what the user sees is the 8-bit RGBA.
    function sameColor(a, b) {
        var x = Qt.tint(a, "transparent"), y = Qt.tint(b, "transparent")
        return Math.round(x.r * 255) === Math.round(y.r * 255) && Math.round(x.g * 255) === Math.round(y.g * 255)
            && Math.round(x.b * 255) === Math.round(y.b * 255) && Math.round(x.a * 255) === Math.round(y.a * 255)
    }

    function colorsOf(button) {
        return [button.contentItem.color, button.background.color, button.background.border.color]
    }

    function test_buttonColors_data() {
        return [
            { tag: "at rest", enabled: true, highlighted: false,
              colors: [Theme.colorPurple, Theme.colorWhite, Theme.colorPurple] },
            { tag: "highlighted", enabled: true, highlighted: true,
              colors: [Theme.colorWhite, Theme.colorPurple, Theme.colorPurple] },
            { tag: "disabled", enabled: false, highlighted: true,
              colors: [Theme.fontColorDisabled, Theme.colorWhite, Theme.borderColorDisabled] },
        ]
    }

    function test_buttonColors(data) {
        var button = createTemporaryObject(buttonComponent, testCase,
                                           { enabled: data.enabled, highlighted: data.highlighted })
        var colors = colorsOf(button)
        for (var i = 0; i < colors.length; ++i)
            verify(sameColor(colors[i], data.colors[i]), i + ": " + colors[i] + " != " + data.colors[i])
        compare(button.background.radius, 0)
        compare(button.background.height, 50)
        compare(button.font.pixelSize, 16)
    }

    function test_busyIndicator() {
        var busy = createTemporaryObject(busyComponent, testCase,
                                         { width: 124, height: 124, lineWidth: 3,
                                           outerColor: "transparent", innerColor: Theme.colorPurple })
        var bar = busy.contentItem
        compare(bar.value, 75)
        compare(bar.from, 0)
        compare(bar.to, 100)
        compare(bar.lineWidth, 3)
        verify(sameColor(bar.outerColor, "transparent"))
        verify(sameColor(bar.innerColor, Theme.colorPurple))
    }
}
