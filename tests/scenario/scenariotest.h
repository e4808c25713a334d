#pragma once

#include <QObject>
#include <QString>

#include "sim/hidsim.h"
#include "tests/scenario/scenariowindow.h"
#include "tests/support/localupdateservice.h"
#include "tests/support/simbus.h"

class Application;

// What every scenario shares: the program's services, its window, the simulated bus and the local update
// service, made ready before each test function and checked after it.
class ScenarioTest : public QObject {
    Q_OBJECT

public:
    ScenarioTest(Application& app, quint16 service_port);

    static const QString kReceiverImage;
    static const QString kHeadsetImage;

protected slots:
    // A subclass that needs more set-up defines its own slot of the same name and calls these first.
    void initTestCase();
    void init();
    void cleanup();

protected:
    bool loadWindow();

    void setReenumerateMs(int ms);
    void setDeviceWaitMs(int ms);

    Application& m_app;
    LocalUpdateService m_service;
    ScenarioWindow m_ui;

private:
    quint16 m_port;
};

// Runs a scenario class in a process of its own: a private home, runtime and temporary folder, so that
// the program's single-instance lock and its downloads never meet another program on the machine.
int runScenarios(int argc, char** argv, QObject* (*make)(Application&, quint16));
