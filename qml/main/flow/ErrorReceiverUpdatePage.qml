import QtQuick 2.12
import "../pages" as Pages

Pages.ErrorReceiverUpdatePage {
    onTryAgainClicked: {
        if (internal.tryContinue(deviceType)) {
            var component = internal.devicePageOf(deviceType)
            if (component && internal.isReceiverType(deviceType))
                internal.showPage(component, { deviceType: deviceType })
        }
    }
}
