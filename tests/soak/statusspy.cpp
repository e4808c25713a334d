#include "tests/soak/statusspy.h"

#include <QMetaMethod>

StatusSpy::StatusSpy(QObject* sender, const QByteArray& signalName, std::function<void(int, int)> handler)
    : QObject(sender), m_handler(std::move(handler)) {
    const QMetaObject* meta = sender->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal && method.name() == signalName &&
            (method.parameterCount() == 2 || method.parameterCount() == 0)) {
            m_withArguments = method.parameterCount() == 2;
            // Slot index 0 past QObject's own methods: qt_metacall below is the only receiver.
            m_connected = QMetaObject::connect(sender, i, this, QObject::staticMetaObject.methodCount(),
                                               Qt::DirectConnection);
            break;
        }
    }
}

int StatusSpy::qt_metacall(QMetaObject::Call call, int id, void** arguments) {
    id = QObject::qt_metacall(call, id, arguments);
    if (id < 0) {
        return id;
    }
    if (call == QMetaObject::InvokeMetaMethod && id == 0) {
        // Scoped enums with the default underlying type travel as int.
        if (m_withArguments) {
            m_handler(*static_cast<const int*>(arguments[1]), *static_cast<const int*>(arguments[2]));
        } else {
            m_handler(0, 0);
        }
    }
    return -1;
}
