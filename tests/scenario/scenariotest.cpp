#include "tests/scenario/scenariotest.h"

#include <QDir>
#include <QStandardPaths>
#include <QtTest>
#include <cstdlib>
#include <memory>

#include "app/application.h"
#include "app/registration.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "tests/support/firmwareharness.h"

const QString ScenarioTest::kReceiverImage =
    QStringLiteral(":/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu");
const QString ScenarioTest::kHeadsetImage =
    QStringLiteral(":/firmware/46d.a93.ff00.1/Sorrel_Headset_T1.46.0.dfu");

ScenarioTest::ScenarioTest(Application& app, quint16 service_port)
    : m_app(app), m_ui(app), m_port(service_port) {}

void ScenarioTest::initTestCase() {
    QString error;
    QVERIFY2(m_service.listen(m_port, &error), qPrintable(error));
}

void ScenarioTest::init() {
    HidSim::reset();
    HidSim::setTimings(TestSupport::fastBusTimings());
    Mediator::Timings timings = TestSupport::fastMediatorTimings();
    // A window on a busy display answers later than a bare mediator.
    timings.deviceWaitMs = 5000;
    m_ui.firmware()->setTimings(timings);
    m_service.withdrawAll();
    m_service.clearRequests();
    m_ui.takeQmlMessages();
}

void ScenarioTest::cleanup() {
    QTRY_VERIFY_WITH_TIMEOUT(!m_ui.firmware()->isRunning(), 30000);
    // A worker's last status reaches QML queued: let it land on this window, not on the next test's.
    QTest::qWait(50);
    const QStringList messages = m_ui.takeQmlMessages();
    m_ui.unload();
    HidSim::reset();
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

bool ScenarioTest::loadWindow() {
    QString error;
    if (!m_ui.load(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    return m_ui.pageName() == QLatin1String("welcomePage");
}

void ScenarioTest::setReenumerateMs(int ms) {
    HidSim::Timings bus = HidSim::timings();
    bus.reenumerateMs = ms;
    HidSim::setTimings(bus);
}

void ScenarioTest::setDeviceWaitMs(int ms) {
    Mediator::Timings timings = m_ui.firmware()->timings();
    timings.deviceWaitMs = ms;
    m_ui.firmware()->setTimings(timings);
}

int runScenarios(int argc, char** argv, QObject* (*make)(Application&, quint16)) {
    QByteArray pattern = qgetenv("TMPDIR");
    if (pattern.isEmpty()) {
        pattern = "/tmp";
    }
    pattern += "/meldra-scenario.XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        return 2;
    }
    const QString root = QString::fromLocal8Bit(pattern);
    for (const char* folder : {"home", "run", "tmp"}) {
        if (!QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder))) {
            return 2;
        }
    }
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", pattern + "/home");
    qputenv("XDG_RUNTIME_DIR", pattern + "/run");
    qputenv("TMPDIR", pattern + "/tmp");
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HIDSIM_SCENARIO"}) {
        qunsetenv(name);
    }
    const quint16 port = LocalUpdateService::freePort();
    if (port == 0) {
        return 2;
    }
    qputenv("MELDRA_UPDATE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(port));
    QStandardPaths::setTestModeEnabled(true);

    registerTypes();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    int code = 0;
    {
        Application app(argc, argv);
        std::unique_ptr<QObject> test(make(app, port));
        code = QTest::qExec(test.get(), argc, argv);
    }
    QDir(root).removeRecursively();
    return code;
}
