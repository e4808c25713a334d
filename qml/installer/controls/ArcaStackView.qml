import QtQuick 2.12
import QtQuick.Templates 2.12 as T

T.StackView {
    id: control

    readonly property real direction: control.mirrored ? -1 : 1

    pushEnter: Transition {
        XAnimator { from: control.direction * control.width; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    pushExit: Transition {
        XAnimator { from: 0; to: -control.direction * control.width; duration: 400; easing.type: Easing.OutCubic }
    }
    popEnter: Transition {
        XAnimator { from: -control.direction * control.width; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    popExit: Transition {
        XAnimator { from: 0; to: control.direction * control.width; duration: 400; easing.type: Easing.OutCubic }
    }
    replaceEnter: Transition {
        XAnimator { from: control.direction * control.width; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    replaceExit: Transition {
        XAnimator { from: 0; to: -control.direction * control.width; duration: 400; easing.type: Easing.OutCubic }
    }
}
