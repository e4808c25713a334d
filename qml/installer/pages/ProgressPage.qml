import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    title: heading.text

    ArcaBusyIndicator {
        objectName: "busyIndicator"
        Accessible.name: heading.text
        x: 104; y: 232; width: 124; height: 124
        running: true
        lineWidth: 3
        outerColor: "transparent"
        innerColor: Theme.colorPurple
    }

    ArcaLabel {
        id: heading
        x: 332; y: 208; width: 564; height: 124
        text: qsTr("INSTALLING\nSONELLA")
        focus: true
        accessibleHeading: true
        font.bold: true
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
    }

    ArcaLabel {
        x: 332; y: 332; width: 564; height: 64
        text: qsTr("Sonella will allow you to setup and update your Tarn\nproducts. Please wait, this process may take a few minutes.")
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeLarge
    }
}
