#include "tests/support/statusrecorder.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QThread>
#include <QVariant>
#include <functional>

namespace TestSupport {

namespace {

// The receiving end of a connection made by meta-method index: the first method past QObject's own,
// which no class declares, so qt_metacall below is the only one to see it.
class Tap : public QObject {
public:
    Tap(QObject* parent, std::function<void(void**)> handler)
        : QObject(parent), m_handler(std::move(handler)) {}

    bool attach(QObject* sender, int signal_index, Qt::ConnectionType type) {
        return QMetaObject::connect(sender, signal_index, this, QObject::staticMetaObject.methodCount(),
                                    type);
    }

    int qt_metacall(QMetaObject::Call call, int id, void** arguments) override {
        id = QObject::qt_metacall(call, id, arguments);
        if (id < 0) {
            return id;
        }
        if (call == QMetaObject::InvokeMetaMethod && id == 0) {
            m_handler(arguments);
        }
        return -1;
    }

private:
    std::function<void(void**)> m_handler;
};

}  // namespace

StatusRecorder::StatusRecorder(QObject* parent) : QObject(parent) {}

bool StatusRecorder::followByName(QObject* sender, const QByteArray& signal, int source) {
    const QMetaObject* meta = sender->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Signal || method.name() != signal) {
            continue;
        }
        const bool withValue = method.parameterCount() >= 1;
        const bool withSubject = method.parameterCount() >= 2;
        // Direct, so that the arguments need no registered type; the values cross to this thread here.
        auto* tap = new Tap(this, [this, source, withValue, withSubject](void** arguments) {
            // Scoped enums with the default underlying type travel as int.
            const int value = withValue ? *static_cast<const int*>(arguments[1]) : 0;
            const int subject = withSubject ? *static_cast<const int*>(arguments[2]) : -1;
            if (QThread::currentThread() == thread()) {
                record(source, value, subject);
            } else {
                QMetaObject::invokeMethod(
                    this, [this, source, value, subject] { record(source, value, subject); },
                    Qt::QueuedConnection);
            }
        });
        return tap->attach(sender, i, Qt::DirectConnection);
    }
    return false;
}

bool StatusRecorder::followProperty(QObject* sender, const char* property, int source) {
    const QMetaObject* meta = sender->metaObject();
    const QMetaProperty meta_property = meta->property(meta->indexOfProperty(property));
    if (!meta_property.isValid() || !meta_property.hasNotifySignal()) {
        return false;
    }
    auto* tap = new Tap(this, [this, sender, meta_property, source](void**) {
        const QVariant value = meta_property.read(sender);
        record(source,
               meta_property.isEnumType() ? *static_cast<const int*>(value.constData()) : value.toInt(), -1);
    });
    return tap->attach(sender, meta_property.notifySignalIndex(), Qt::AutoConnection);
}

QVector<int> StatusRecorder::values(int source) const {
    QVector<int> result;
    for (const Event& event : m_events) {
        if (source < 0 || event.source == source) {
            result.append(event.value);
        }
    }
    return result;
}

void StatusRecorder::record(int source, int value, int subject) {
    m_events.append({source, value, subject});
    emit recorded(source, value, subject);
}

}  // namespace TestSupport
