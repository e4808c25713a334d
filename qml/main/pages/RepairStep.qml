import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

Row {
    property string number
    property string text

    spacing: Theme.layoutSpacing

    ArcaLabel {
        width: 22
        text: parent.number
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeLarge
        font.bold: true
    }
    ArcaLabel {
        text: parent.text
    }
}
