import QtQuick 2.12

// Makes the text or picture it fills a link for the keyboard and for screen readers: Tab reaches it,
// Enter or Space opens it, and it reads as a link, named by the text unless told otherwise. A label
// cannot be the link itself: it turns its role back into static text when a screen reader starts.
Item {
    id: link

    signal activated()

    objectName: "linkArea"
    anchors.fill: parent
    activeFocusOnTab: true
    Accessible.role: Accessible.Link
    Accessible.name: parent.text
    // A method rather than Accessible.onPressAction: the role already offers Press, the handler would add a
    // second one.
    function accessiblePressAction() {
        link.activated()
    }
    Keys.onReturnPressed: link.activated()
    Keys.onEnterPressed: link.activated()
    Keys.onSpacePressed: link.activated()

    // The link stands for the text it fills; read as well, the text would be read twice.
    Component.onCompleted: parent.Accessible.ignored = true

    // Only Tab gives this item the focus, so the ring never shows for the mouse.
    // Within the line's own height: lines of text sit close above and below a link.
    FocusRing {
        visible: link.activeFocus
        anchors.topMargin: 0
        anchors.bottomMargin: 0
    }
}
