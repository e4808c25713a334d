import QtQuick 2.12
import "../pages" as Pages

Pages.FinalPage {
    onDoneClicked: internal.showWelcome()
}
