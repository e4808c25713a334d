import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0

T.Button {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    padding: Theme.controlPadding
    spacing: Theme.layoutSpacing
    font.family: Theme.fontFamilyTitle
    font.pixelSize: Theme.fontSizeLarge
    font.bold: true
    hoverEnabled: false
    // Set here: Qt names a button from its text only when the text changes after a screen reader started.
    Accessible.name: text
    // A disabled button reads as disabled and offers no Press (app/accessibility.h).
    activeFocusOnTab: enabled

    // The two values in which the main program's copy of this control differs.
    QtObject {
        id: variant
        readonly property color disabledTextColor: Theme.fontColorDisabled
        readonly property real cornerRadius: Theme.borderRadius
    }

    function themed(enabledColor, disabledColor, pressedColor, hoveredColor) {
        if (!control.enabled)
            return disabledColor
        if (control.hovered || control.highlighted)
            return control.down ? pressedColor : hoveredColor
        return enabledColor
    }

    contentItem: ArcaLabel {
        text: control.text
        font: control.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        Accessible.ignored: true
        color: control.themed(Theme.fontColorEnabled, variant.disabledTextColor,
                              Theme.fontColorPressed, Theme.fontColorHovered)
    }

    background: Rectangle {
        implicitWidth: 160
        implicitHeight: Theme.controlHeight
        visible: !control.flat || control.down || control.checked || control.highlighted
        radius: variant.cornerRadius
        border.width: Theme.borderWidth
        border.color: control.themed(Theme.borderColorEnabled, Theme.borderColorDisabled,
                                     Theme.borderColorPressed, Theme.borderColorHovered)
        color: control.themed(Theme.backgroundColorEnabled, Theme.backgroundColorDisabled,
                              Theme.backgroundColorPressed, Theme.backgroundColorHovered)
    }

    // Space is the button's own key; Enter is what people also press on a focused button.
    Keys.onReturnPressed: {
        if (!event.isAutoRepeat)
            control.clicked()
    }
    Keys.onEnterPressed: {
        if (!event.isAutoRepeat)
            control.clicked()
    }

    FocusRing {
        visible: control.visualFocus
        radius: control.background ? control.background.radius + margin : Math.min(width, height) / 2
    }
}
