import QtQuick 2.12
import QtQuick.Templates 2.12 as T
import QtQuick.Layouts 1.12
import Arca.Theme 1.0
import Arca.UIMediator.Enums 1.0
import "pages"
import "controls"

T.ApplicationWindow {
    id: window

    // The process arguments, replaceable before the window completes (tests start it with their own).
    property var processArguments: Qt.application.arguments

    readonly property var appExtension: App.appExtension
    readonly property var installerMediator: App.installerMediator
    // The main program hands over a downloaded installer with exactly this argument; anything merely
    // containing it ("--update", "-update=1") is not the hand-over.
    readonly property bool updateMode: {
        for (var i = 0; i < window.processArguments.length; ++i) {
            if (window.processArguments[i] === "-update")
                return true
        }
        return false
    }

    objectName: "installerWindow"
    // Spelled out because a QML window otherwise reports only Qt.Window, and greying out the close entry
    // of the system menu during an installation looks for the close button hint.
    flags: Qt.Window | Qt.WindowTitleHint | Qt.WindowSystemMenuHint | Qt.WindowMinimizeButtonHint
           | Qt.WindowMaximizeButtonHint | Qt.WindowCloseButtonHint
    visible: true
    width: 1000
    height: 680
    minimumWidth: 1000
    minimumHeight: 680
    color: Theme.colorWhite
    title: Qt.application.name

    Component.onCompleted: appExtension.decorateWindow(window)

    onClosing: close.accepted = !installerMediator.isRunning()

    // The running main program is being closed; the page that started the installation shows the wait.
    property bool waitingForProgram: false

    function startInstallation(fromErrorPage) {
        installerMediator.install()
        if (installerMediator.status === UIInstallerMediator.Started) {
            appExtension.setCloseButtonEnabled(window, false)
            stack.show(progressPage)
        } else if (installerMediator.status === UIInstallerMediator.Closing) {
            appExtension.setCloseButtonEnabled(window, false)
            waitingForProgram = true
        } else if (!fromErrorPage) {
            stack.show(errorPage)
        }
    }

    Connections {
        target: window.installerMediator
        enabled: window.waitingForProgram
        function onStatusChanged() {
            if (window.installerMediator.status === UIInstallerMediator.Installing) {
                window.waitingForProgram = false
                stack.show(progressPage)
            } else if (window.installerMediator.status === UIInstallerMediator.Failed) {
                window.waitingForProgram = false
                window.appExtension.setCloseButtonEnabled(window, true)
                stack.show(errorPage)
            }
        }
    }

    ArcaStackView {
        id: stack
        objectName: "pageStack"
        anchors.fill: parent
        implicitWidth: currentItem ? currentItem.implicitWidth : 0
        implicitHeight: currentItem ? currentItem.implicitHeight : 0
        initialItem: window.updateMode ? updatePage : welcomePage
    }

    Component {
        id: welcomePage
        WelcomePage {
            objectName: "welcomePage"
            onInstallClicked: window.startInstallation(false)
        }
    }

    Component {
        id: updatePage
        UpdatePage {
            objectName: "updatePage"
            waiting: window.waitingForProgram
            onInstallLaterClicked: window.close()
            onContinueClicked: window.startInstallation(false)
        }
    }

    Component {
        id: progressPage
        ProgressPage {
            objectName: "progressPage"

            Connections {
                target: window.installerMediator
                function onStatusChanged() {
                    if (window.installerMediator.status === UIInstallerMediator.Finished) {
                        window.appExtension.setCloseButtonEnabled(window, true)
                        stack.show(finalPage)
                    } else if (window.installerMediator.status === UIInstallerMediator.Failed) {
                        window.appExtension.setCloseButtonEnabled(window, true)
                        stack.show(errorPage)
                    }
                }
            }
        }
    }

    Component {
        id: finalPage
        FinalPage {
            objectName: "finalPage"
            onLaunchClicked: {
                window.installerMediator.launch()
                window.close()
            }
        }
    }

    Component {
        id: errorPage
        ErrorPage {
            objectName: "errorPage"
            onRetryClicked: window.startInstallation(true)
            onQuitClicked: window.close()
        }
    }
}
