#pragma once

#include <QObject>
#include <QString>

#include "sim/hidsim.h"
#include "tests/scenario/scenarioservice.h"
#include "tests/scenario/scenariowindow.h"

class Application;

// What every scenario shares: the program's services, its window, the simulated bus and the local update
// service. Subclasses call prepare() from init() and finish() from cleanup().
class ScenarioTest : public QObject {
    Q_OBJECT

public:
    ScenarioTest(Application& app, quint16 service_port);

    static const QString kReceiverImage;
    static const QString kHeadsetImage;

protected:
    bool startService(QString* error);
    void prepare();
    void finish();
    bool loadWindow();

    int plug(HidSim::DeviceType type, const QString& serial, const QString& firmware,
             const HidSim::RepairScript& repair = {});
    void setReenumerateMs(int ms);
    void setDeviceWaitMs(int ms);

    Application& m_app;
    ScenarioService m_service;
    ScenarioWindow m_ui;

private:
    quint16 m_port;
};

// Runs a scenario class in a process of its own: a private home, runtime and temporary folder, so that
// the program's single-instance lock and its downloads never meet another program on the machine.
int runScenarios(int argc, char** argv, QObject* (*make)(Application&, quint16));
