import QtQuick 2.12
import QtQuick.Templates 2.12 as T

T.Page {
    id: control

    // Qt names a page from its title only when the title changes after a screen reader started.
    Accessible.name: title
    // Qt reads a page as a tab of some tab bar, and sets that role again whenever a screen reader starts.
    // The page's title, which takes the focus when the page comes, announces it instead.
    Accessible.ignored: true

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            contentWidth + leftPadding + rightPadding,
                            implicitHeaderWidth,
                            implicitFooterWidth)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             contentHeight + topPadding + bottomPadding
                             + (implicitHeaderHeight > 0 ? implicitHeaderHeight + spacing : 0)
                             + (implicitFooterHeight > 0 ? implicitFooterHeight + spacing : 0))
}
