// A stand-in for a deliverable's start: builds the application extension on the key given and behaves as
// main does with it, printing one line per outcome so that tests can follow it from outside.
//   instanceprobe start KEY   first instance: serves and prints each signal; otherwise activates the first,
//                             and takes over when that one was closing (PROBE_LINGER_MS: how long a first
//                             instance keeps the key after its loop ended, as a program tearing down does)
//   instanceprobe close KEY   asks the running instance to quit
//   instanceprobe sleep KEY   holds off sleep and prints the result
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "common/appextension.h"

namespace {

void say(const QString& line) {
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

volatile std::sig_atomic_t g_terminated = 0;

// Tests end their instances with SIGTERM; leaving through the event loop lets the extension clean up as
// a closed program does, so that only the deliberate SIGKILL leaves anything behind.
void onTerminate(int) {
    g_terminated = 1;
}

QString yesNo(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: instanceprobe start|close|sleep KEY\n");
        return 2;
    }
    const QString mode = args.at(1);
    Common::AppExtension extension(args.at(2));

    if (mode == QLatin1String("close")) {
        QElapsedTimer timer;
        timer.start();
        const bool delivered = extension.closeRunningInstance();
        say(QStringLiteral("close=%1 ms=%2").arg(yesNo(delivered)).arg(timer.elapsed()));
        return 0;
    }
    if (mode == QLatin1String("sleep")) {
        QElapsedTimer timer;
        timer.start();
        const bool held = extension.setSystemSleepEnabled(false);
        say(QStringLiteral("sleep=%1 ms=%2").arg(yesNo(held)).arg(timer.elapsed()));
        return 0;
    }
    if (mode != QLatin1String("start")) {
        return 2;
    }
    if (extension.hasRunningInstance()) {
        const bool activated = extension.activateRunningInstance();
        say(QStringLiteral("activate=%1").arg(yesNo(activated)));
        if (activated || !extension.takeOverFromClosingInstance(5000)) {
            return 0;
        }
    }
    QObject::connect(&extension, &Common::IAppExtension::activateRequested, &app,
                     [] { say(QStringLiteral("activateRequested")); });
    QObject::connect(&extension, &Common::IAppExtension::closeRequested, &app, [] {
        say(QStringLiteral("closeRequested"));
        QCoreApplication::quit();
    });
    std::signal(SIGTERM, onTerminate);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [] {
        if (g_terminated) {
            QCoreApplication::quit();
        }
    });
    watch.start(20);
    say(QStringLiteral("serving"));
    const int code = app.exec();
    say(QStringLiteral("stopped"));
    QThread::msleep(qEnvironmentVariableIntValue("PROBE_LINGER_MS"));
    return code;
}
