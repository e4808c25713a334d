import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0

T.ProgressBar {
    id: control

    property color outerColor: Qt.darker(Theme.colorPurple, 1.25)
    property color innerColor: Theme.colorWhite
    property int lineWidth: 4

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    padding: Theme.controlPadding

    onFromChanged: canvas.requestPaint()
    onToChanged: canvas.requestPaint()
    onValueChanged: canvas.requestPaint()
    onVisibleChanged: canvas.requestPaint()
    onOuterColorChanged: canvas.requestPaint()
    onInnerColorChanged: canvas.requestPaint()
    onLineWidthChanged: canvas.requestPaint()

    contentItem: Canvas {
        id: canvas
        implicitWidth: 70
        implicitHeight: 70

        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            ctx.clearRect(0, 0, width, height)
            var radius = Math.min(width, height) / 2 - control.lineWidth / 2
            if (radius <= 0)
                return
            var cx = width / 2
            var cy = height / 2
            ctx.lineWidth = control.lineWidth

            ctx.beginPath()
            ctx.strokeStyle = control.outerColor
            ctx.arc(cx, cy, radius, 0, 2 * Math.PI, false)
            ctx.stroke()

            // An empty range (to == from) would divide by zero; it draws no arc.
            var span = control.to - control.from
            var fraction = span > 0 ? Math.min(Math.max((control.value - control.from) / span, 0), 1) : 0
            if (fraction <= 0)
                return
            var start = -Math.PI / 2
            ctx.beginPath()
            ctx.strokeStyle = control.innerColor
            ctx.lineCap = "round"
            ctx.arc(cx, cy, radius, start, start + fraction * 2 * Math.PI, false)
            ctx.stroke()
        }
    }
}
