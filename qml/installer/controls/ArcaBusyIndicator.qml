import QtQuick 2.12
import QtQuick.Templates 2.12 as T

T.BusyIndicator {
    id: control

    property alias outerColor: bar.outerColor
    property alias innerColor: bar.innerColor
    property alias lineWidth: bar.lineWidth

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    // Qt gives the indicator no role a reader knows; the ring inside reads as a progress bar, named here.
    Accessible.ignored: true

    contentItem: ArcaProgressBar {
        Accessible.name: control.Accessible.name
        id: bar
        from: 0
        to: 100
        value: 75

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1250
            loops: Animation.Infinite
            running: control.visible && control.running
        }
    }
}
