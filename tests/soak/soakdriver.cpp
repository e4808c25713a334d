#include "tests/soak/soakdriver.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QtTest/QTest>

#include "sim/dfufaults.h"
#include "sim/hidsim.h"
#include "tests/support/statusrecorder.h"

namespace {

// The mediator's statuses and device types as the window receives them.
enum Status {
    Started = 1,
    Finished = 5,
    Canceled = 6,
    Timeout = 7,
    Failed = 8,
    DeviceError = 9,
    FileError = 10
};

bool isReceiver(int deviceType) {
    return deviceType == 2 || deviceType == 4;
}

// The page the window owes the user for a final status; empty for a status that is not final.
QString expectedPage(bool repair, int status, int deviceType) {
    if (status == Finished) {
        return QStringLiteral("finalPage");
    }
    if (repair) {
        if (status == Failed) {
            return QStringLiteral("noDeviceRepairPage");
        }
        if (status == FileError || status == DeviceError || status == Canceled) {
            return QStringLiteral("errorPage");
        }
        return {};
    }
    if (status == Timeout || status == Failed || status == FileError || status == DeviceError ||
        status == Canceled) {
        return isReceiver(deviceType) ? QStringLiteral("errorReceiverUpdatePage")
                                      : QStringLiteral("errorPage");
    }
    return {};
}

// Some final statuses come back before the window has had its turn; a page is read only after this.
constexpr int kPageSettleMs = 300;

}  // namespace

SoakDriver::SoakDriver(const QString& socketPath, QObject* parent) : QObject(parent) {
    const QString logPath = qEnvironmentVariable("MELDRA_SOAK_LOG");
    if (!logPath.isEmpty()) {
        m_log.setFileName(logPath);
        (void)m_log.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    QLocalServer::removeServer(socketPath);
    m_server.listen(socketPath);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    auto* attach = new QTimer(this);
    attach->setInterval(100);
    connect(attach, &QTimer::timeout, this, [this, attach] {
        if (attachToMediator()) {
            attach->stop();
        }
    });
    attach->start();
}

SoakDriver::~SoakDriver() {
    // Gone with the application object, after every service of the program.
    for (const HidSim::DeviceState& device : HidSim::devices()) {
        log(QStringLiteral("exit device %1 %2 %3")
                .arg(device.serial, device.firmware,
                     device.mode == HidSim::Mode::Normal ? QStringLiteral("normal")
                                                         : QStringLiteral("update")));
    }
}

void SoakDriver::record(const QString& line) {
    m_events << line;
    log(line);
}

void SoakDriver::log(const QString& line) {
    if (m_log.isOpen()) {
        m_log.write(line.toUtf8() + '\n');
        m_log.flush();
    }
}

bool SoakDriver::attachToMediator() {
    QQuickWindow* const root = window();
    QObject* const internal = root ? root->findChild<QObject*>(QStringLiteral("internal")) : nullptr;
    QObject* const mediator =
        internal ? internal->property("firmwareUpdateMediator").value<QObject*>() : nullptr;
    if (!mediator) {
        return false;
    }
    m_mediator = mediator;
    // The workers signal their steps from their own thread; the recorder hands them to ours.
    enum Source { Update, Repair, Activation };
    auto* signals_seen = new TestSupport::StatusRecorder(this);
    QObject* const extension = internal->property("appExtension").value<QObject*>();
    const bool connected = signals_seen->followByName(mediator, "updateStatusChanged", Update) &&
                           signals_seen->followByName(mediator, "repairStatusChanged", Repair) && extension &&
                           signals_seen->followByName(extension, "activateRequested", Activation);
    connect(signals_seen, &TestSupport::StatusRecorder::recorded, this,
            [this, signals_seen](int source, int status, int type) {
                signals_seen->clear();  // a long run; what the script reads is kept below
                if (source == Activation) {
                    record(QStringLiteral("activateRequested"));
                } else {
                    onStatus(source == Repair, status, type);
                }
            });
    record(QStringLiteral("attached %1").arg(connected ? "ok" : "FAIL"));
    return true;
}

void SoakDriver::onStatus(bool repair, int status, int deviceType) {
    const QString operation = repair ? QStringLiteral("repair") : QStringLiteral("update");
    log(QStringLiteral("%1 status %2").arg(operation).arg(status));
    if (status == Started) {
        m_events << QStringLiteral("%1 started %2").arg(operation).arg(deviceType);
        return;
    }
    const QString expected = expectedPage(repair, status, deviceType);
    if (expected.isEmpty()) {
        // Updating, Repairing, Rebooting: the progress page follows them itself.
        m_events << QStringLiteral("%1 step %2 %3").arg(operation).arg(status).arg(deviceType);
        return;
    }
    QTimer::singleShot(kPageSettleMs, this, [this, operation, status, deviceType, expected] {
        const QString shown = pageName();
        const bool ok = shown == expected;
        record(QStringLiteral("%1 final %2 %3 page %4 expected %5 %6")
                   .arg(operation)
                   .arg(status)
                   .arg(deviceType)
                   .arg(shown, expected, ok ? QStringLiteral("ok") : QStringLiteral("MISMATCH")));
    });
}

QObject* SoakDriver::fileDialog() const {
    // Looked up each time: the window may make its chooser only when it is first asked for.
    QQuickWindow* const root = window();
    return root ? root->findChild<QObject*>(QStringLiteral("fileDialog")) : nullptr;
}

QQuickWindow* SoakDriver::window() const {
    for (QWindow* candidate : QGuiApplication::topLevelWindows()) {
        if (candidate->objectName() == QLatin1String("mainWindow")) {
            return qobject_cast<QQuickWindow*>(candidate);
        }
    }
    return nullptr;
}

QQuickItem* SoakDriver::page() const {
    QQuickWindow* const root = window();
    QObject* const stack = root ? root->findChild<QObject*>(QStringLiteral("stackView")) : nullptr;
    return stack ? stack->property("currentItem").value<QQuickItem*>() : nullptr;
}

QString SoakDriver::pageName() const {
    QQuickItem* const current = page();
    return current ? current->objectName() : QStringLiteral("-");
}

QQuickItem* SoakDriver::item(const QString& name) const {
    QQuickItem* const current = page();
    return current ? current->findChild<QQuickItem*>(name) : nullptr;
}

bool SoakDriver::shownAndEnabled(const QString& name) const {
    QQuickItem* const target = item(name);
    return target && target->isVisible() && target->opacity() > 0 && target->isEnabled();
}

void SoakDriver::serve(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        const QString line = QString::fromUtf8(socket->readLine()).trimmed();
        socket->write(answer(line).toUtf8() + '\n');
    }
}

QString SoakDriver::answer(const QString& line) {
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString command = words.value(0);
    if (command == QLatin1String("ping")) {
        return QStringLiteral("pong");
    }
    if (command == QLatin1String("page")) {
        return pageName();
    }
    if (command == QLatin1String("shown")) {
        return shownAndEnabled(words.value(1)) ? QStringLiteral("1") : QStringLiteral("0");
    }
    if (command == QLatin1String("click")) {
        QQuickItem* const target = item(words.value(1));
        if (!shownAndEnabled(words.value(1))) {
            return QStringLiteral("no");
        }
        const Qt::KeyboardModifiers modifiers =
            words.value(2) == QLatin1String("alt") ? Qt::AltModifier : Qt::NoModifier;
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(window(), Qt::LeftButton, modifiers, centre.toPoint());
        return QStringLiteral("ok");
    }
    if (command == QLatin1String("choose") || command == QLatin1String("cancel")) {
        QObject* const dialog = fileDialog();
        if (!dialog || !dialog->property("visible").toBool()) {
            return QStringLiteral("no");
        }
        if (command == QLatin1String("cancel")) {
            return QMetaObject::invokeMethod(dialog, "reject") ? QStringLiteral("ok") : QStringLiteral("no");
        }
        // The path as a person types it into the chooser and confirms it.
        const QUrl url = QUrl::fromLocalFile(line.section(QLatin1Char(' '), 1));
        bool added = false;
        return QMetaObject::invokeMethod(dialog, "clearSelection") &&
                       QMetaObject::invokeMethod(dialog, "addSelection", Q_RETURN_ARG(bool, added),
                                                 Q_ARG(QUrl, url)) &&
                       added && QMetaObject::invokeMethod(dialog, "accept")
                   ? QStringLiteral("ok")
                   : QStringLiteral("no");
    }
    if (command == QLatin1String("closewindow")) {
        // As the title bar's close button does; a close the program refuses leaves the window open.
        QQuickWindow* const root = window();
        return root && root->close() ? QStringLiteral("closed") : QStringLiteral("refused");
    }
    if (command == QLatin1String("windows")) {
        QStringList shown;
        for (QWindow* candidate : QGuiApplication::allWindows()) {
            if (candidate->isVisible()) {
                shown << (candidate->objectName().isEmpty() ? candidate->title() : candidate->objectName());
            }
        }
        return shown.join(QLatin1Char('|'));
    }
    if (command == QLatin1String("events")) {
        const QString all = m_events.join(QLatin1Char('|'));
        m_events.clear();
        return all;
    }
    if (command == QLatin1String("dfuclear")) {
        HidSim::clearDfuFaults();
        return QStringLiteral("ok");
    }
    if (command == QLatin1String("dfufault")) {
        HidSim::DfuFaults faults;
        for (const QString& word : words.mid(2)) {
            const QString key = word.section(QLatin1Char('='), 0, 0);
            const int value = word.section(QLatin1Char('='), 1).toInt();
            if (key == QLatin1String("errorAtPercent")) {
                faults.errorAtPercent = value;
            } else if (key == QLatin1String("lostAtPercent")) {
                faults.lostAtPercent = value;
            } else if (key == QLatin1String("corruptStorage")) {
                faults.corruptStorage = true;
            } else if (key == QLatin1String("noReturnAfterReset")) {
                faults.noReturnAfterReset = true;
            } else {
                return QStringLiteral("unknown fault ") + key;
            }
        }
        for (const HidSim::DeviceState& device : HidSim::devices()) {
            if (device.serial == words.value(1)) {
                HidSim::setDfuFaults(device.id, faults);
                return QStringLiteral("ok");
            }
        }
        return QStringLiteral("no such device");
    }
    return QStringLiteral("unknown command");
}

namespace {

void startDriver() {
    const QString path = qEnvironmentVariable("MELDRA_SOAK_DRIVER");
    if (path.isEmpty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return;
    }
    // Programs this one starts must not serve the script too.
    qunsetenv("MELDRA_SOAK_DRIVER");
    // Constructed from the event loop: the application object is not complete while pre-routines run.
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [path] { new SoakDriver(path, QCoreApplication::instance()); });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
