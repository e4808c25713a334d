import QtQuick 2.12
import "../pages" as Pages

Pages.MultiDevicePage {
    onBackClicked: internal.showWelcome()
    onTryAgainClicked: {
        var t = internal.similarDeviceType(deviceType)
        if (t !== deviceType)
            internal.checkDeviceUpdate(t)
        internal.tryContinue(t, internal.devicePageOf(t))
    }
}
