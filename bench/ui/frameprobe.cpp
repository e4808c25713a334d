// Preloaded into a Qt Quick program: writes the monotonic times of its application object and of the
// first frame swapped by its first Quick window to the file named by UIBENCH_REPORT. With UIBENCH_GRAB set,
// it also saves what the window shows a second after it appears to that PNG file, so that renders of
// two builds can be compared. Nothing else; the program under test is not touched.
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QQuickWindow>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
            report("window");
            connect(window, &QQuickWindow::frameSwapped, window, reportFirstFrame, Qt::DirectConnection);
            if (const char* grab = std::getenv("UIBENCH_GRAB")) {
                const QString path = QString::fromLocal8Bit(grab);
                QTimer::singleShot(1000, window, [window, path] { window->grabWindow().save(path); });
            }
            QCoreApplication::instance()->removeEventFilter(this);
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
