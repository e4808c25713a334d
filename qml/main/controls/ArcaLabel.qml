import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0

T.Label {
    // A page's title reads as a heading (see app/accessibility.h).
    property bool accessibleHeading: false

    color: enabled ? Theme.fontColorEnabled : Theme.fontColorDisabled
    linkColor: color
    font.family: Theme.fontFamilyRegular
    font.pixelSize: Theme.fontSizeLarge
}
