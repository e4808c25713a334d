#pragma once

#include <QObject>
#include <functional>

// Receives a signal of two enum arguments (or of none: the handler then gets zeros) by its meta-method, for
// a sender whose class this library cannot name (the program links its classes statically and exports none
// of them).
class StatusSpy : public QObject {
public:
    StatusSpy(QObject* sender, const QByteArray& signalName, std::function<void(int, int)> handler);

    [[nodiscard]] bool isConnected() const { return m_connected; }

    int qt_metacall(QMetaObject::Call call, int id, void** arguments) override;

private:
    std::function<void(int, int)> m_handler;
    bool m_connected = false;
    bool m_withArguments = false;
};
