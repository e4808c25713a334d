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
            ctx.lineWidth = control.lineWidth
            var radius = Math.min(width, height) / 2 - control.lineWidth / 2
            ctx.strokeStyle = control.outerColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, radius, 0, 2 * Math.PI)
            ctx.stroke()
            var span = control.to - control.from
            var fraction = span > 0 ? (control.value - control.from) / span : 0
            if (fraction > 0) {
                ctx.strokeStyle = control.innerColor
                ctx.lineCap = "round"
                ctx.beginPath()
                ctx.arc(width / 2, height / 2, radius, -Math.PI / 2, -Math.PI / 2 + fraction * 2 * Math.PI)
                ctx.stroke()
            }
        }
    }
}
