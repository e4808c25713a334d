import QtQuick 2.12

// One of the program's pictures in one opaque colour, drawn as a plain texture by the "tinted" image
// provider rather than by a colour overlay, whose shaders each page would wait for when first shown.
// Give `sourceSize` the picture's size in the window, so that it comes sharp at the screen's pixel ratio.
// A new colour is a new URL, painted at once (synchronous) and kept in the picture cache afterwards.
Image {
    property url picture
    property color color

    source: "image://tinted/" + color.toString().substring(1) + "/" + picture.toString().replace(/^qrc:\/*/, "")
}
