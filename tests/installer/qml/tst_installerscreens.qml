import QtQuick 2.12
import QtTest 1.12
import Arca.UIMediator.Enums 1.0

TestCase {
    id: testCase
    name: "InstallerScreens"
    when: windowShown

    property var window: null
    property var pages: []

    function openInstaller(args, engineScript) {
        App.reset(engineScript === undefined ? "exit 0" : engineScript)
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null, { processArguments: args })
        verify(window !== null)
        var stack = findChild(window, "pageStack")
        verify(stack !== null)
        pages = [stack.currentItem.objectName]
        stack.currentItemChanged.connect(function() {
            if (stack.currentItem)
                pages.push(stack.currentItem.objectName)
        })
        tryVerify(function() { return window.visible })
        waitForRendering(window.contentItem)
        return window
    }

    function currentPage() {
        return findChild(window, "pageStack").currentItem.objectName
    }

    function click(name) {
        var item = findChild(window, name)
        verify(item !== null, "no item " + name + " on " + currentPage())
        verify(item.visible && item.enabled, name + " is not clickable")
        mouseClick(item)
    }

    function cleanup() {
        if (window) {
            tryVerify(function() { return !window.installerMediator.isRunning() }, 10000)
            window.destroy()
            window = null
        }
    }

    function test_firstPage_data() {
        return [
            { tag: "no arguments", args: ["Installer"], page: "welcomePage" },
            { tag: "-update", args: ["Installer", "-update"], page: "updatePage" },
            { tag: "-update among others", args: ["Installer", "-x", "-update", "file"], page: "updatePage" },
            { tag: "--update", args: ["Installer", "--update"], page: "welcomePage" },
            { tag: "-update=1", args: ["Installer", "-update=1"], page: "welcomePage" },
            { tag: "update without dash", args: ["Installer", "update"], page: "welcomePage" },
            { tag: "containing -update", args: ["Installer", "x-update-x"], page: "welcomePage" },
            { tag: "-Update", args: ["Installer", "-Update"], page: "welcomePage" },
            { tag: "program path ending in -update", args: ["/opt/x-update"], page: "welcomePage" },
        ]
    }

    function test_firstPage(data) {
        openInstaller(data.args)
        compare(currentPage(), data.page)
        compare(window.width, 1000)
        compare(window.height, 680)
        compare(window.minimumWidth, 1000)
        compare(window.minimumHeight, 680)
        compare(window.title, "Sonella Desktop")
        compare(App.appExtension.decorations, 1)
    }

    function test_installation_data() {
        return [
            { tag: "welcome, success", args: [], button: "installButton", engine: "exit 0", last: "finalPage" },
            { tag: "welcome, slow success", args: [], button: "installButton", engine: "sleep 0.3", last: "finalPage" },
            { tag: "welcome, failure", args: [], button: "installButton", engine: "exit 1", last: "errorPage" },
            { tag: "welcome, crash", args: [], button: "installButton", engine: "kill -SEGV $$", last: "errorPage" },
            { tag: "update, success", args: ["-update"], button: "continueButton", engine: "exit 0", last: "finalPage" },
            { tag: "update, failure", args: ["-update"], button: "continueButton", engine: "exit 3", last: "errorPage" },
        ]
    }

    function test_installation(data) {
        openInstaller(["Installer"].concat(data.args), data.engine)
        var first = currentPage()
        click(data.button)
        // Even an engine that ends at once shows the progress page before the outcome.
        compare(pages[1], "progressPage")
        tryCompare(window.installerMediator, "status",
                   data.last === "finalPage" ? UIInstallerMediator.Finished : UIInstallerMediator.Failed, 10000)
        compare(currentPage(), data.last)
        compare(pages, [first, "progressPage", data.last])
        compare(App.appExtension.closeButtonStates, [false, true])
    }

    function test_updateWaitsForRunningProgram() {
        openInstaller(["Installer", "-update"], "exit 0")
        App.runProgram()
        click("continueButton")
        compare(currentPage(), "updatePage")
        verify(!findChild(window, "continueButton").enabled, "CONTINUE clickable while waiting")
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Finished, 10000)
        compare(pages, ["updatePage", "progressPage", "finalPage"])
        compare(App.appExtension.closeButtonStates, [false, true])
    }

    function test_closeRefusedWhileInstalling() {
        openInstaller(["Installer"], "sleep 0.6")
        // Without these hints Windows keeps the close entry of the system menu enabled.
        var hints = Qt.Window | Qt.WindowTitleHint | Qt.WindowSystemMenuHint | Qt.WindowMinimizeButtonHint
                    | Qt.WindowCloseButtonHint
        compare(window.flags & hints, hints, "window flags " + window.flags)
        click("installButton")
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Installing)
        window.close()
        wait(50)
        verify(window.visible, "the window closed during an installation")
        compare(currentPage(), "progressPage")
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Finished, 10000)
        compare(currentPage(), "finalPage")
        window.close()
        tryCompare(window, "visible", false)
    }

    function test_retry() {
        openInstaller(["Installer"], "exit 1")
        click("installButton")
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Failed, 10000)
        compare(currentPage(), "errorPage")

        App.setEngine("exit 0")
        click("retryButton")
        compare(currentPage(), "progressPage")
        compare(App.appExtension.closeButtonStates, [false, true, false])
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Finished, 10000)
        compare(pages, ["welcomePage", "progressPage", "errorPage", "progressPage", "finalPage"])
        compare(App.appExtension.closeButtonStates, [false, true, false, true])
    }

    function test_retryFailingAgain() {
        openInstaller(["Installer"], "exit 1")
        click("installButton")
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Failed, 10000)
        click("retryButton")
        compare(currentPage(), "progressPage")
        tryVerify(function() { return pages.length === 5 }, 10000)
        compare(pages, ["welcomePage", "progressPage", "errorPage", "progressPage", "errorPage"])
    }

    function test_closingButtons_data() {
        return [
            { tag: "install later", args: ["-update"], engine: "exit 0", steps: ["installLaterButton"],
              status: UIInstallerMediator.None },
            { tag: "quit after a failure", args: [], engine: "exit 1", steps: ["installButton", "quitButton"],
              status: UIInstallerMediator.Failed },
            // Nothing is installed under the test's settings, so launch() fails; the window closes all the same.
            { tag: "launch", args: [], engine: "exit 0", steps: ["installButton", "launchButton"],
              status: UIInstallerMediator.Finished },
        ]
    }

    function test_closingButtons(data) {
        openInstaller(["Installer"].concat(data.args), data.engine)
        for (var i = 0; i < data.steps.length; ++i) {
            if (i > 0)
                tryVerify(function() { return !window.installerMediator.isRunning()
                                       && window.installerMediator.status !== UIInstallerMediator.Started
                                       && window.installerMediator.status !== UIInstallerMediator.Installing }, 10000)
            click(data.steps[i])
        }
        tryCompare(window, "visible", false)
        compare(window.installerMediator.status, data.status)
    }

    function test_layoutStaysAbsolute() {
        openInstaller(["Installer"])
        var button = findChild(window, "installButton")
        var before = button.mapToItem(window.contentItem, 0, 0)
        window.width = 1400
        window.height = 900
        waitForRendering(window.contentItem)
        var after = button.mapToItem(window.contentItem, 0, 0)
        compare(after.x, before.x)
        compare(after.y, before.y)
        compare(before.x, 332)
        compare(before.y, 428)
        compare(button.width, 281)
    }

    function focusName() {
        var item = window.activeFocusItem
        if (!item)
            return ""
        return item.Accessible.role === Accessible.Link ? item.Accessible.name : item.objectName
    }

    // Tab until the named element has the focus; the names passed on the way.
    function tabTo(name) {
        var passed = []
        for (var i = 0; i < 10 && focusName() !== name; ++i) {
            keyClick(Qt.Key_Tab)
            passed.push(focusName())
        }
        return passed
    }

    // The page as a screen reader finds it: every actionable element with a role and a name, the expected
    // ones among them, and the focus on the page's title.
    function walk(title, expected) {
        var tree = App.accessibleTree(window)
        var seen = [], focused = ""
        for (var i = 0; i < tree.length; ++i) {
            var node = tree[i]
            var actionable = node.focusable || node.actions.indexOf("Press") >= 0
            verify(!actionable || (node.name.trim() !== "" && node.role !== "NoRole" && node.role !== "Client"),
                   currentPage() + ": unnamed " + node.role)
            seen.push(node.role + " " + node.name)
            if (node.focused && node.role === "Heading")
                focused = node.name
        }
        compare(focused, title, "the title takes the focus")
        verify(seen.indexOf("PageTab " + title) < 0, "the page reads as a tab")
        for (var j = 0; j < expected.length; ++j)
            verify(seen.indexOf(expected[j]) >= 0, currentPage() + " lacks " + expected[j] + " in " + seen)
    }

    function test_keyboardOnlyInstallation() {
        openInstaller(["Installer"], "sleep 0.5")
        window.requestActivate()
        tryVerify(function() { return window.active }, 15000)
        walk("WELCOME TO\nSONELLA", ["Link End User License Agreement.", "Button INSTALL SONELLA"])
        compare(tabTo("installButton"), ["End User License Agreement.", "installButton"])
        keyClick(Qt.Key_Return)
        compare(currentPage(), "progressPage")
        walk("INSTALLING\nSONELLA", ["ProgressBar INSTALLING\nSONELLA"])
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Finished, 10000)
        walk("SONELLA\nIS INSTALLED", ["Button LAUNCH SONELLA", "Link App Store", "Link Google Play"])
        compare(tabTo("Google Play"), ["launchButton", "App Store", "Google Play"])
        keyClick(Qt.Key_Space)
        compare(App.openedUrls.length, 1)
        verify(App.openedUrls[0].indexOf("https://play.google.com/") === 0, App.openedUrls[0])
        tabTo("launchButton")
        keyClick(Qt.Key_Enter)
        tryCompare(window, "visible", false)
    }

    function test_keyboardOnlyUpdateFailing() {
        openInstaller(["Installer", "-update"], "exit 3")
        window.requestActivate()
        tryVerify(function() { return window.active }, 15000)
        walk("AN UPDATE IS READY TO BE\nINSTALLED", ["Button INSTALL LATER", "Button CONTINUE"])
        compare(tabTo("continueButton"), ["installLaterButton", "continueButton"])
        keyClick(Qt.Key_Space)
        tryCompare(window.installerMediator, "status", UIInstallerMediator.Failed, 10000)
        compare(currentPage(), "errorPage")
        walk("INSTALLATION FAILED", ["StaticText It looks like an error occured… Please try again later or contact "
                                     + "costumer service.", "Button QUIT", "Button RETRY"])
        compare(tabTo("quitButton"), ["quitButton"])
        keyClick(Qt.Key_Return)
        tryCompare(window, "visible", false)
    }
}
