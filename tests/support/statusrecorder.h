#pragma once

#include <QByteArray>
#include <QObject>
#include <QVector>

namespace TestSupport {

// Every status a sender reported, in the order this object's thread received them, as QML would: a
// signal emitted on a worker thread arrives queued. A status is the first argument of a signal, or a
// property read at its change signal; a second argument (the device type) rides along.
class StatusRecorder : public QObject {
    Q_OBJECT

public:
    struct Event {
        int source;   // as given to follow(): which signal or property
        int value;    // the status, or whatever number the signal carried first
        int subject;  // the second argument, -1 when there is none
    };

    explicit StatusRecorder(QObject* parent = nullptr);

    template <typename Sender, typename Value>
    void follow(const Sender* sender, void (Sender::*signal)(Value), int source = 0) {
        connect(sender, signal, this, [this, source](Value value) { record(source, int(value), -1); });
    }
    template <typename Sender, typename Value, typename Subject>
    void follow(const Sender* sender, void (Sender::*signal)(Value, Subject), int source = 0) {
        connect(sender, signal, this,
                [this, source](Value value, Subject subject) { record(source, int(value), int(subject)); });
    }
    // By name, for a sender whose class cannot be named where the recorder is used (a library loaded into
    // the shipped program, which exports none of its classes). The first two arguments must be int-sized
    // enums or ints; a signal without arguments records 0.
    bool followByName(QObject* sender, const QByteArray& signal, int source = 0);
    // The property's value each time its change signal fires.
    bool followProperty(QObject* sender, const char* property, int source = 0);

    [[nodiscard]] const QVector<Event>& events() const { return m_events; }
    // The values of one source (-1: every source), in order.
    [[nodiscard]] QVector<int> values(int source = -1) const;
    template <typename Status>
    [[nodiscard]] QVector<Status> statuses(int source = -1) const {
        QVector<Status> result;
        for (int value : values(source)) {
            result.append(static_cast<Status>(value));
        }
        return result;
    }
    void clear() { m_events.clear(); }

signals:
    void recorded(int source, int value, int subject);

private:
    void record(int source, int value, int subject);

    QVector<Event> m_events;
};

}  // namespace TestSupport
