import QtQuick 2.12
import Arca.Theme 1.0
import "../controls"

ArcaPage {
    id: page

    title: heading.text

    signal retryClicked()
    signal quitClicked()

    ArcaLabel {
        id: heading
        x: 290; y: 208; width: 420; height: 48
        horizontalAlignment: Text.AlignHCenter
        text: qsTr("INSTALLATION FAILED")
        focus: true
        accessibleHeading: true
        font.bold: true
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeTitle
    }

    ArcaLabel {
        x: 290; y: 288; width: 420; height: 64
        horizontalAlignment: Text.AlignHCenter
        textFormat: Text.StyledText
        Accessible.name: text.replace(/<br>/g, " ").replace(/<[^>]*>/g, "")
        text: qsTr("It looks like an error occured… Please try again later or<br>contact <b>costumer service</b>.")
        font.family: Theme.fontFamilyTitle
        font.pixelSize: Theme.fontSizeLarge
    }

    ArcaButton {
        objectName: "quitButton"
        x: 346; y: 384; width: 150
        text: qsTr("QUIT")
        onClicked: page.quitClicked()
    }

    ArcaButton {
        objectName: "retryButton"
        x: 504; y: 384; width: 150
        highlighted: true
        text: qsTr("RETRY")
        onClicked: page.retryClicked()
    }
}
