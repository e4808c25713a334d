#pragma once

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
//   page | shown NAME | click NAME | events | dfufault SERIAL KEY=VALUE... | dfuclear | ping
class SoakDriver : public QObject {
public:
    SoakDriver(const QString& socketPath, QObject* parent);

private:
    QString answer(const QString& line);
    void serve(QLocalSocket* socket);
    bool attachToMediator();
    void onStatus(bool repair, int status, int deviceType);

    [[nodiscard]] QQuickWindow* window() const;
    [[nodiscard]] QQuickItem* page() const;
    [[nodiscard]] QString pageName() const;
    [[nodiscard]] QQuickItem* item(const QString& name) const;
    [[nodiscard]] bool shownAndEnabled(const QString& name) const;

    QLocalServer m_server;
    QPointer<QObject> m_mediator;
    QStringList m_events;
};
