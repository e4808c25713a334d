#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>
#include <memory>

#ifdef Q_OS_LINUX
#include <malloc.h>
#endif

#include "app/application.h"
#include "app/registration.h"
#include "common/appextension.h"

namespace {

#ifndef ARCA_INSTALLER
constexpr int kTakeOverMs = 10000;
#endif

void loadFonts() {
    const QDir fonts(QStringLiteral(":/fonts"));
    const auto entries = fonts.entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        QFontDatabase::addApplicationFont(entry.absoluteFilePath());
    }
}

int runEngine(Application& app) {
    loadFonts();
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("App"), &app);

    const QUrl url(QStringLiteral("qrc:/main.qml"));
    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject* object, const QUrl& object_url) {
            if (!object && url == object_url) {
                QCoreApplication::exit(-1);
            }
        },
        Qt::QueuedConnection);
    engine->load(url);
    const int code = app.exec();
    engine.reset();
    return code;
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef Q_OS_LINUX
    // Every update copies a firmware image (about a megabyte) several times. glibc's sliding mmap
    // threshold moves such blocks into the heap after the first one is freed, where small long-lived
    // blocks above them keep the memory from ever going back: the program grew by about 0.7 MB a minute
    // in a long run of updates. A fixed threshold keeps large blocks in their own mappings.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    registerTypes();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);

    Application app(argc, argv);
    Common::AppExtension* extension = app.extension();

#ifndef ARCA_INSTALLER
    auto parser = std::make_unique<QCommandLineParser>();
    parser->setApplicationDescription(QCoreApplication::applicationName());
    parser->addHelpOption();
    parser->addVersionOption();
    const QCommandLineOption closeOption(QStringList{QStringLiteral("c"), QStringLiteral("close")},
                                         QCoreApplication::translate("main", "Close application instance."));
    parser->addOption(closeOption);
    parser->process(app);

    if (parser->isSet(closeOption)) {
        extension->closeRunningInstance();
        return 0;
    }
    // A first instance that is on its way out after a close takes no request; rather than vanish, this
    // start waits for it to end and opens the window itself.
    if (extension->hasRunningInstance() &&
        (extension->activateRunningInstance() || !extension->takeOverFromClosingInstance(kTakeOverMs))) {
        return 0;
    }
    const int code = runEngine(app);
    parser.reset();
    return code;
#else
    if (extension->hasRunningInstance()) {
        return 0;
    }
    return runEngine(app);
#endif
}
