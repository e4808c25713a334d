import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

Row {
    property string number
    property string text

    spacing: Theme.layoutSpacing

    Accessible.role: Accessible.StaticText
    Accessible.name: number + " " + text.replace(/\n/g, " ")

    ArcaLabel {
        width: 22
        text: parent.number
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeLarge
        font.bold: true
        Accessible.ignored: true
    }
    ArcaLabel {
        text: parent.text
        Accessible.ignored: true
    }
}
