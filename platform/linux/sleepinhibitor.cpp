#include "platform/sleepinhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QVariant>
#include <cerrno>
#include <cstring>

#include "base/logging.h"

namespace Platform {

namespace {
// logind answers at once; a bus that does not must not freeze the window for D-Bus's 25 s default.
constexpr int kCallTimeoutMs = 2000;
}  // namespace

SleepInhibitor::~SleepInhibitor() {
    setSleepEnabled(true);
}

bool SleepInhibitor::setSleepEnabled(bool enabled) {
    if (enabled) {
        if (m_handle >= 0) {
            ::close(m_handle);
            m_handle = -1;
        }
        return true;
    }
    if (m_handle >= 0) {
        return true;
    }

    // DBUS_SYSTEM_BUS_ADDRESS, read by libdbus, names another bus for the system one (tests do).
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCWarning(lcPlatform).noquote()
            << "holding off sleep failed: no system bus:" << bus.lastError().message();
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    QString who = QCoreApplication::applicationName();
    if (who.isEmpty()) {
        who = QStringLiteral("Meldra");
    }
    call << QStringLiteral("sleep:idle") << who << QStringLiteral("A device firmware update is running")
         << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        qCWarning(lcPlatform).noquote()
            << "holding off sleep failed: logind answered"
            << (reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage()
                                                           : QStringLiteral("no descriptor"));
        return false;
    }
    const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    if (!descriptor.isValid()) {
        qCWarning(lcPlatform) << "holding off sleep failed: logind's descriptor is not valid";
        return false;
    }
    // The inhibitor lasts while any copy of the descriptor is open; close-on-exec keeps a program started
    // from here from holding it after sleep has been allowed again.
    m_handle = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (m_handle < 0) {
        qCWarning(lcPlatform) << "holding off sleep failed: keeping logind's descriptor:"
                              << std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace Platform
