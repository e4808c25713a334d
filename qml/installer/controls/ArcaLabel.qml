import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import Arca.Theme 1.0

T.Label {
    color: enabled ? Theme.fontColorEnabled : Theme.fontColorDisabled
    linkColor: color
    font.family: Theme.fontFamilyRegular
    font.pixelSize: Theme.fontSizeLarge
}
