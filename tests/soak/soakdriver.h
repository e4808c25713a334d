#pragma once

#include <QFile>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QLocalSocket;
class QQuickItem;
class QQuickWindow;

// Loaded into the shipped program (LD_PRELOAD) for long unattended runs: answers a controlling script on a
// local socket, one command per line, and checks every final status of the firmware mediator against the
// page the window shows for it.
//   page | shown NAME | click NAME [alt] | choose PATH | cancel | closewindow | windows | events
//   | dfufault SERIAL KEY=VALUE... | dfuclear | ping
// With MELDRA_SOAK_LOG set, every event and every status also goes to that file as it happens, and the
// simulated devices as they are when the program ends: for tests that watch the program end.
class SoakDriver : public QObject {
public:
    SoakDriver(const QString& socketPath, QObject* parent);
    ~SoakDriver() override;

private:
    QString answer(const QString& line);
    void serve(QLocalSocket* socket);
    bool attachToMediator();
    void onStatus(bool repair, int status, int deviceType);
    void record(const QString& line);
    void log(const QString& line);
    [[nodiscard]] QObject* fileDialog() const;

    [[nodiscard]] QQuickWindow* window() const;
    [[nodiscard]] QQuickItem* page() const;
    [[nodiscard]] QString pageName() const;
    [[nodiscard]] QQuickItem* item(const QString& name) const;
    [[nodiscard]] bool shownAndEnabled(const QString& name) const;

    QLocalServer m_server;
    QPointer<QObject> m_mediator;
    QStringList m_events;
    QFile m_log;
};
