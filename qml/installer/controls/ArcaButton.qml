import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0

T.Button {
    id: control

    // One rule for text, background and border: the pressed or hovered colour only while highlighted
    // (hovering is off), the enabled colour otherwise, the disabled colour when disabled.
    function stateColor(enabledColor, disabledColor, pressedColor, hoveredColor) {
        if (!control.enabled)
            return disabledColor
        if (control.hovered || control.highlighted)
            return control.down ? pressedColor : hoveredColor
        return enabledColor
    }

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    padding: Theme.controlPadding
    spacing: Theme.layoutSpacing
    hoverEnabled: false

    font.family: Theme.fontFamilyTitle
    font.pixelSize: Theme.fontSizeLarge
    font.bold: true

    contentItem: ArcaLabel {
        text: control.text
        font: control.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        color: control.stateColor(Theme.fontColorEnabled, Theme.fontColorDisabled,
                                  Theme.fontColorPressed, Theme.fontColorHovered)
    }

    background: Rectangle {
        implicitWidth: 160
        implicitHeight: Theme.controlHeight
        visible: !control.flat || control.down || control.checked || control.highlighted
        radius: Theme.borderRadius
        border.width: Theme.borderWidth
        border.color: control.stateColor(Theme.borderColorEnabled, Theme.borderColorDisabled,
                                         Theme.borderColorPressed, Theme.borderColorHovered)
        color: control.stateColor(Theme.backgroundColorEnabled, Theme.backgroundColorDisabled,
                                  Theme.backgroundColorPressed, Theme.backgroundColorHovered)
    }
}
