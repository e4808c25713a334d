#include <qt_windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <QString>

#include "base/logging.h"
#include "platform/driverinfo.h"

namespace Platform {

namespace {

// Whether the device has a driver installed on it: with DI_FLAGSEX_INSTALLEDDRIVER the list holds only
// that one driver, where a plain list would offer every class driver whose INF could match.
bool hasInstalledDriver(HDEVINFO set, SP_DEVINFO_DATA* device) {
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsW(set, device, &params)) {
        return false;
    }
    params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER;
    if (!SetupDiSetDeviceInstallParamsW(set, device, &params) ||
        !SetupDiBuildDriverInfoList(set, device, SPDIT_COMPATDRIVER)) {
        return false;
    }
    SP_DRVINFO_DATA_V2_W driver = {};
    driver.cbSize = sizeof(driver);
    const bool found = SetupDiEnumDriverInfoW(set, device, SPDIT_COMPATDRIVER, 0, &driver) != FALSE;
    SetupDiDestroyDriverInfoList(set, device, SPDIT_COMPATDRIVER);
    return found;
}

}  // namespace

bool DriverInfo::isInstalled(quint16 vendor_id, quint16 product_id) {
    // Instance IDs are "USB\VID_046D&PID_0A92\<serial>", or "...&MI_03\..." for one interface of a
    // composite device; the enumerator argument takes only the bus, so the rest is matched here.
    const QString prefix = QStringLiteral("USB\\VID_%1&PID_%2")
                               .arg(vendor_id, 4, 16, QLatin1Char('0'))
                               .arg(product_id, 4, 16, QLatin1Char('0'))
                               .toUpper();
    const HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        qCWarning(lcPlatform) << "Listing the USB devices for" << prefix << "failed, error" << GetLastError();
        return false;
    }
    bool installed = false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; !installed && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr)) {
            continue;
        }
        const QString instance = QString::fromWCharArray(id).toUpper();
        if (instance.startsWith(prefix) &&
            (instance.size() == prefix.size() || instance.at(prefix.size()) == QLatin1Char('\\') ||
             instance.at(prefix.size()) == QLatin1Char('&'))) {
            installed = hasInstalledDriver(set, &device);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return installed;
}

}  // namespace Platform
