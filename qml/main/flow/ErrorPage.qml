import QtQuick 2.12
import "../pages" as Pages

Pages.ErrorPage {
    onDoneClicked: internal.showWelcome()
}
