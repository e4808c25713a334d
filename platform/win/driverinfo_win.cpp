#include <qt_windows.h>

#include <setupapi.h>

#include <QString>

#include "platform/driverinfo.h"

namespace Platform {

bool DriverInfo::isInstalled(quint16 vendor_id, quint16 product_id) {
    const QString enumerator = QStringLiteral("USB\\VID_%1&PID_%2")
                                   .arg(vendor_id, 4, 16, QLatin1Char('0'))
                                   .arg(product_id, 4, 16, QLatin1Char('0'))
                                   .toUpper();
    const HDEVINFO set = SetupDiGetClassDevsW(nullptr, reinterpret_cast<const wchar_t*>(enumerator.utf16()),
                                              nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return false;

    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiEnumDeviceInfo(set, 0, &device)) {
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_CLASSDRIVER)) {
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    SP_DRVINFO_DATA_V2_W driver = {};
    driver.cbSize = sizeof(driver);
    const bool found = SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, 0, &driver) != FALSE;
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

}  // namespace Platform
