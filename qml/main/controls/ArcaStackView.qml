import QtQuick 2.12
import QtQuick.Templates 2.12 as T

T.StackView {
    id: control

    readonly property real forward: control.mirrored ? -control.width : control.width

    // The page that show() made, which this view does not delete itself.
    property Item shownPage: null

    // Replaces the page at once. The new page is made and takes the focus while the old one is still
    // there: replaced first, the old page would hand the focus to the view for a moment, and a screen
    // reader would announce an unnamed element before every title.
    function show(component, properties) {
        var previous = shownPage
        var page = component.createObject(control, properties || {})
        page.forceActiveFocus()
        replace(page, {}, T.StackView.Immediate)
        shownPage = page
        if (previous)
            previous.destroy()
    }

    // The page that comes in takes the focus, which its title holds: that is how a screen reader learns
    // of the change, and where Tab starts on the new page.
    onCurrentItemChanged: {
        if (currentItem)
            currentItem.forceActiveFocus()
    }

    popEnter: Transition {
        XAnimator { from: -control.forward; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    popExit: Transition {
        XAnimator { from: 0; to: control.forward; duration: 400; easing.type: Easing.OutCubic }
    }
    pushEnter: Transition {
        XAnimator { from: control.forward; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    pushExit: Transition {
        XAnimator { from: 0; to: -control.forward; duration: 400; easing.type: Easing.OutCubic }
    }
    replaceEnter: Transition {
        XAnimator { from: control.forward; to: 0; duration: 400; easing.type: Easing.OutCubic }
    }
    replaceExit: Transition {
        XAnimator { from: 0; to: -control.forward; duration: 400; easing.type: Easing.OutCubic }
    }
}
