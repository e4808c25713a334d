import QtQuick 2.12
import QtQuick.Templates 2.12 as T

T.BusyIndicator {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    // Qt gives the indicator no role a reader knows; the ring inside reads as a progress bar, named here.
    Accessible.ignored: true

    contentItem: ArcaProgressBar {
        Accessible.name: control.Accessible.name
        from: 0
        to: 100
        value: 25

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1250
            loops: Animation.Infinite
            running: control.visible && control.running
        }
    }
}
