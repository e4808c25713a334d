// A small stand-in for logind's Manager.Inhibit on a private bus. It hands out the write end of a pipe as
// the inhibitor descriptor and reports on stdout when the last holder has closed it.
//   fakelogind BUS_ADDRESS [deny]
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QTextStream>

namespace {

void say(const QString& line) {
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

class Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit Manager(bool deny) : m_deny(deny) {}

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        say(QStringLiteral("inhibit %1|%2|%3|%4").arg(what, who, why, mode));
        if (m_deny) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("denied"));
            return {};
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("pipe"));
            return {};
        }
        const int index = ++m_handedOut;
        auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [notifier, index] {
            char byte = 0;
            if (::read(int(notifier->socket()), &byte, 1) <= 0) {
                say(QStringLiteral("released %1").arg(index));
                notifier->setEnabled(false);
                ::close(int(notifier->socket()));
            }
        });
        const QDBusUnixFileDescriptor handed(ends[1]);  // keeps its own duplicate
        ::close(ends[1]);
        return handed;
    }

private:
    bool m_deny;
    int m_handedOut = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(args.at(1), QStringLiteral("fakelogind"));
    Manager manager(args.size() > 2 && args.at(2) == QLatin1String("deny"));
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        say(QStringLiteral("failed"));
        return 1;
    }
    say(QStringLiteral("ready"));
    return app.exec();
}

#include "fakelogind.moc"
