// Preloaded into a Qt Quick program: writes the monotonic times of its application object and of the
// first frame swapped by its first Quick window to the file named by UIBENCH_REPORT. With UIBENCH_GRAB set,
// it also saves what the window shows a second after it appears to that PNG file, so that renders of
// two builds can be compared. With UIBENCH_CLICKS set ("item:page,item:page", UIBENCH_CLICK_ROUNDS times
// over), a person clicks: each click is handed to the GUI thread as input is, whenever that thread is
// busy, and the time from handing it over to the page named after it being current is reported as
// "click <item> <ns>". With UIBENCH_STALLS set, a 5 ms timer on the GUI thread reports every gap of more
// than 20 ms between two of its ticks as "gap <ns> <at>": a time in which no frame could have been made.
// With UIBENCH_WATCH ("object:property") each change of that property of the named object is reported as
// "watch <value> <at>". Nothing else; the program under test is not touched.
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_reported{false};

// May run on the render thread under the threaded render loop: plain system calls, no Qt objects.
void report(const char* what) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char* path = std::getenv("UIBENCH_REPORT");
    if (!path) {
        return;
    }
    char line[80];
    const int length = std::snprintf(line, sizeof(line), "%s %lld\n", what,
                                     static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        (void)!::write(fd, line, static_cast<size_t>(length));
        ::close(fd);
    }
}

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void reportLine(const QByteArray& line) {
    const char* path = std::getenv("UIBENCH_REPORT");
    if (!path) {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        (void)!::write(fd, line.constData(), static_cast<size_t>(line.size()));
        ::close(fd);
    }
}

// GUI thread only.
QQuickItem* currentPage(QQuickWindow* window) {
    QObject* stack = window->findChild<QObject*>(QStringLiteral("stackView"));
    return stack ? stack->property("currentItem").value<QQuickItem*>() : nullptr;
}

// GUI thread only: clicks the centre of a shown, enabled item of the current page; false when none is.
bool clickItem(QQuickWindow* window, const QString& name) {
    QQuickItem* page = currentPage(window);
    QQuickItem* item = page ? page->findChild<QQuickItem*>(name) : nullptr;
    if (!item || !item->isVisible() || !item->isEnabled()) {
        return false;
    }
    const QPointF at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    const QPointF global = window->mapToGlobal(at.toPoint());
    QMouseEvent press(QEvent::MouseButtonPress, at, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(window, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(window, &release);
    return true;
}

// The person in front of the window, on a thread of its own so that a busy GUI thread delays the click
// and not the clicking. Clicks only after the window showed and settled.
void clickAway(QQuickWindow* window, QStringList steps, int rounds, int pause_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms * 3));
    for (int round = 0; round < rounds; ++round) {
        for (const QString& step : steps) {
            const QString item = step.section(QLatin1Char(':'), 0, 0);
            const QString page = step.section(QLatin1Char(':'), 1, 1);
            for (int attempt = 0; attempt < 100; ++attempt) {
                std::atomic<int> outcome{0};  // 1 on the page, 2 clicked, the page still to come, -1 nothing to click
                const long long posted = monotonicNs();
                QMetaObject::invokeMethod(
                    window,
                    [window, item, page, &outcome] {
                        if (!clickItem(window, item)) {
                            outcome.store(-1);
                            return;
                        }
                        QQuickItem* shown = currentPage(window);
                        outcome.store(shown && shown->objectName() == page ? 1 : 2);
                    },
                    Qt::QueuedConnection);
                while (outcome.load() == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                // A page that follows a signal from another thread (an update's start) comes a little later.
                for (int look = 0; outcome.load() == 2 && look < 3000; ++look) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    std::atomic<int> shown_page{0};
                    QMetaObject::invokeMethod(
                        window,
                        [window, page, &shown_page] {
                            QQuickItem* shown = currentPage(window);
                            shown_page.store(shown && shown->objectName() == page ? 1 : -1);
                        },
                        Qt::QueuedConnection);
                    while (shown_page.load() == 0) {
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                    }
                    if (shown_page.load() == 1) {
                        outcome.store(1);
                    }
                }
                if (outcome.load() == 1) {
                    reportLine(
                        QStringLiteral("click %1 %2\n").arg(item).arg(monotonicNs() - posted).toLatin1());
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    }
    reportLine("clicks-done 0\n");
}

void startClicking(QQuickWindow* window) {
    const QStringList steps =
        QString::fromLocal8Bit(qgetenv("UIBENCH_CLICKS")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (steps.isEmpty()) {
        return;
    }
    const int rounds = qEnvironmentVariableIntValue("UIBENCH_CLICK_ROUNDS");
    const int pause_ms = qEnvironmentVariableIsSet("UIBENCH_CLICK_PAUSE_MS")
                             ? qEnvironmentVariableIntValue("UIBENCH_CLICK_PAUSE_MS")
                             : 700;
    std::thread(clickAway, window, steps, rounds > 0 ? rounds : 5, pause_ms).detach();
}

// GUI thread: the stall meter, armed once the window is up, so that loading does not count.
void startStallMeter(QQuickWindow* window) {
    if (!qEnvironmentVariableIsSet("UIBENCH_STALLS")) {
        return;
    }
    auto* timer = new QTimer(window);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(5);
    auto last = std::make_shared<long long>(0);
    QObject::connect(timer, &QTimer::timeout, window, [last] {
        const long long now = monotonicNs();
        // Every gap of more than 20 ms, so that a long one can be placed against what the window did then.
        if (*last != 0 && now - *last > 20000000) {
            reportLine(QStringLiteral("gap %1 %2\n").arg(now - *last).arg(now).toLatin1());
        }
        *last = now;
    });
    QTimer::singleShot(2000, timer, [timer] { timer->start(); });
}

// GUI thread: reports a property of a named object whenever it changes, found once the page is loaded.
void startWatching(QQuickWindow* window) {
    const QStringList watch = QString::fromLocal8Bit(qgetenv("UIBENCH_WATCH")).split(QLatin1Char(':'));
    if (watch.size() != 2) {
        return;
    }
    QTimer::singleShot(1000, window, [window, watch] {
        QObject* target = window->findChild<QObject*>(watch.at(0));
        if (!target) {
            reportLine("watch-missing 0 0\n");
            return;
        }
        const QByteArray name = watch.at(1).toLatin1();
        const int index = target->metaObject()->indexOfProperty(name.constData());
        const QMetaProperty property = target->metaObject()->property(index);
        if (index < 0 || !property.hasNotifySignal()) {
            reportLine("watch-missing 0 0\n");
            return;
        }
        auto* relay = new QTimer(target);  // a slot to connect the notify signal to
        relay->setSingleShot(true);
        relay->setInterval(0);
        QObject::connect(relay, &QTimer::timeout, target, [target, name] {
            reportLine(QStringLiteral("watch %1 %2\n")
                           .arg(target->property(name.constData()).toString())
                           .arg(monotonicNs())
                           .toLatin1());
        });
        const int start = relay->metaObject()->indexOfMethod("start()");
        QObject::connect(target, property.notifySignal(), relay, relay->metaObject()->method(start),
                         Qt::DirectConnection);
        reportLine(QStringLiteral("watch %1 %2\n").arg(property.read(target).toString()).arg(monotonicNs()).toLatin1());
    });
}

void reportFirstFrame() {
    if (!g_reported.exchange(true)) {
        report("first-frame");
    }
}

// Windows are no children of the application, but every event for them passes its filters; the first
// one for a Quick window (its surface being created) comes before any frame.
class WindowCatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        Q_UNUSED(event)
        if (auto* window = qobject_cast<QQuickWindow*>(watched)) {
            // First: what follows gives the window children, whose events would come back here.
            QCoreApplication::instance()->removeEventFilter(this);
            report("window");
            connect(window, &QQuickWindow::frameSwapped, window, reportFirstFrame, Qt::DirectConnection);
            startClicking(window);
            startStallMeter(window);
            startWatching(window);
            if (const char* grab = std::getenv("UIBENCH_GRAB")) {
                const QString path = QString::fromLocal8Bit(grab);
                QTimer::singleShot(1000, window, [window, path] { window->grabWindow().save(path); });
            }
            deleteLater();
        }
        return false;
    }
};

// Called at the end of the application object's base constructor: what comes before is loading and
// linking the program and connecting to the display, what comes after is the program's own start-up.
void installCatcher() {
    report("application");
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new WindowCatcher(app));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(installCatcher)
