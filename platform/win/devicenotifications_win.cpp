#include <windows.h>

#include <cfgmgr32.h>

#include <atomic>

#include "base/logging.h"
#include "platform/devicenotifications.h"

namespace Platform {

namespace {

// The HID device interface class; every HID collection that hidapi enumerates is one of its interfaces.
constexpr GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

// GetProcAddress answers with a generic function pointer; going through void* is the sanctioned way back.
template <typename Function>
Function procedure(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// Configuration manager notifications need no window, so they serve the worker thread's waits as well as
// the window's poll. They arrive on a system thread; a count is all that crosses over.
class InterfaceNotifications final : public DeviceNotifications {
public:
    InterfaceNotifications() = default;
    ~InterfaceNotifications() override {
        // Waits for a callback that is running, so the count outlives every one of them.
        if (m_handle != nullptr && m_unregister != nullptr) {
            m_unregister(m_handle);
        }
    }

    bool start() {
        HMODULE library = GetModuleHandleW(L"cfgmgr32.dll");
        if (library == nullptr) {
            library = LoadLibraryW(L"cfgmgr32.dll");
        }
        if (library == nullptr) {
            return false;
        }
        // Only from Windows 8 on; before that the bus is polled.
        const auto registerNotification =
            procedure<RegisterNotification>(library, "CM_Register_Notification");
        m_unregister = procedure<UnregisterNotification>(library, "CM_Unregister_Notification");
        if (registerNotification == nullptr || m_unregister == nullptr) {
            return false;
        }
        CM_NOTIFY_FILTER filter = {};
        filter.cbSize = sizeof(filter);
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = kHidInterfaceClass;
        const CONFIGRET result =
            registerNotification(&filter, this, &InterfaceNotifications::onEvent, &m_handle);
        if (result != CR_SUCCESS) {
            qCWarning(lcPlatform) << "Could not register for HID interface notifications, error" << result
                                  << "; polling the HID bus instead";
            m_handle = nullptr;
            return false;
        }
        return true;
    }

    bool changed() override {
        const unsigned long now = m_events.load();
        const unsigned long seen = m_seen.exchange(now);
        return m_first.exchange(false) || now != seen;
    }

private:
    static DWORD CALLBACK onEvent(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                  PCM_NOTIFY_EVENT_DATA, DWORD) {
        if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL ||
            action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
            static_cast<InterfaceNotifications*>(context)->m_events.fetch_add(1);
        }
        return ERROR_SUCCESS;
    }

    HCMNOTIFICATION m_handle = nullptr;
    UnregisterNotification m_unregister = nullptr;
    std::atomic<unsigned long> m_events{0};
    std::atomic<unsigned long> m_seen{0};
    std::atomic<bool> m_first{true};
};

}  // namespace

std::unique_ptr<DeviceNotifications> DeviceNotifications::create() {
    auto notifications = std::make_unique<InterfaceNotifications>();
    if (!notifications->start()) {
        return nullptr;
    }
    return notifications;
}

}  // namespace Platform
