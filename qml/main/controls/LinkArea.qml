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
    Accessible.onPressAction: link.activated()
    Keys.onReturnPressed: link.activated()
    Keys.onEnterPressed: link.activated()
    Keys.onSpacePressed: link.activated()

    // Only Tab gives this item the focus, so the ring never shows for the mouse.
    FocusRing {
        visible: link.activeFocus
    }
}
