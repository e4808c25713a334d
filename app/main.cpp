#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QResource>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

#ifdef Q_OS_LINUX
#include <malloc.h>
#endif

#include "app/application.h"
#include "app/registration.h"
#ifndef ARCA_INSTALLER
#include "app/pictureproviders.h"
#endif
#include "base/logging.h"
#include "base/supportlog.h"
#include "common/appextension.h"

namespace {

#ifndef ARCA_INSTALLER
constexpr int kTakeOverMs = 10000;
constexpr int kOnlineChecksLatestMs = 3000;
const char* const kSupportLogName = "meldra";
#else
const char* const kSupportLogName = "installer";
#endif

// Registering a face reads and parses its whole file, so only the faces that the first page draws are
// registered before it is loaded, and the others once it is on screen.
#ifndef ARCA_INSTALLER
const QStringList kFirstPageFonts{QStringLiteral("BrownPro-Bold.otf"), QStringLiteral("BrownPro-Light.otf"),
                                  QStringLiteral("BrownPro-Regular.otf")};
#else
const QStringList kFirstPageFonts;  // the installer's first page draws most of them: all at once
#endif

// The font database keeps what it is given for as long as the program runs, and a file name makes it read
// the whole file into a copy of its own: 1.5 MB of private memory for bytes that already lie in the
// executable. A resource stored uncompressed is handed over in place instead.
void addFont(const QString& path) {
    const QResource resource(path);
    if (resource.isValid() && resource.compressionAlgorithm() == QResource::NoCompression &&
        resource.data()) {
        QFontDatabase::addApplicationFontFromData(QByteArray::fromRawData(
            reinterpret_cast<const char*>(resource.data()), static_cast<int>(resource.size())));
        return;
    }
    QFontDatabase::addApplicationFont(path);
}

// Registers the fonts of ":/fonts" that are (first_page) or are not among kFirstPageFonts.
void loadFonts(bool first_page) {
    const QDir fonts(QStringLiteral(":/fonts"));
    const auto entries = fonts.entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        if (kFirstPageFonts.isEmpty() || kFirstPageFonts.contains(entry.fileName()) == first_page) {
            addFont(entry.absoluteFilePath());
        }
    }
}

// Every update copies a firmware image (about a megabyte) several times. glibc's sliding mmap threshold
// moves such blocks into the heap after the first one is freed, where small long-lived blocks above them
// keep the memory from ever going back: the program grew by about 0.7 MB a minute in a long run of
// updates. A fixed threshold keeps large blocks in their own mappings.
// Not before the first frame, though: the graphics driver, the QML and the pictures allocate and free
// many large blocks while starting, and each in a mapping of its own costs faults on fresh pages and an
// unmap (about 40 ms of CPU and 1500 to 2700 page faults more to the first frame).
void keepLargeBlocksInOwnMappings() {
#ifdef Q_OS_LINUX
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

// Runs `action` once on the GUI thread after the window's first frame (at once when there is no window),
// from the event loop, where it delays nothing visible.
void afterFirstFrame(QQmlApplicationEngine& engine, QObject* context, std::function<void()> action) {
    auto* window =
        engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window) {
        action();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    // Queued: the frame may be swapped on the render thread.
    *connection = QObject::connect(
        window, &QQuickWindow::frameSwapped, context,
        [connection, action = std::move(action)] {
            if (*connection) {
                QObject::disconnect(*connection);
                *connection = {};
                action();
            }
        },
        Qt::QueuedConnection);
}

int runEngine(Application& app) {
    loadFonts(true);
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("App"), &app);
#ifndef ARCA_INSTALLER
    addPictureProviders(*engine);
#endif

    const QUrl url(QStringLiteral("qrc:/main.qml"));
    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject* object, const QUrl& object_url) {
            if (!object && url == object_url) {
                qCCritical(lcShell).noquote() << "the window" << url.toString() << "could not be loaded";
                QCoreApplication::exit(-1);
            }
        },
        Qt::QueuedConnection);
#ifndef ARCA_INSTALLER
    // The first page asks for offers as it completes; the network stack that this starts (its plugins,
    // threads and the connections) has nothing to show before the first frame. A window that is never
    // shown still asks, a little later.
    app.holdOnlineChecks(true);
    QTimer::singleShot(kOnlineChecksLatestMs, &app, [&app] { app.holdOnlineChecks(false); });
#endif
    engine->load(url);
    // The rest of the fonts follow the first frame too.
    afterFirstFrame(*engine, &app, [&app] {
#ifndef ARCA_INSTALLER
        app.holdOnlineChecks(false);
#else
        Q_UNUSED(app)
#endif
        keepLargeBlocksInOwnMappings();
        if (!kFirstPageFonts.isEmpty()) {
            loadFonts(false);
        }
    });
    const int code = app.exec();
    engine.reset();
    return code;
}

// Qt Quick keeps the glyphs of each font face in a texture that grows as new text appears, and by default
// copies the old texture into the grown one by drawing it with a shader program of that face's own. A
// software renderer compiles such a program when it is first drawn: the render thread, and the GUI thread
// waiting for it, stood still for 45 to 60 ms whenever a page brought new glyphs. Qt's alternative keeps a
// copy of each glyph texture in memory and uploads it again instead. An explicit setting is left alone.
void growGlyphTexturesWithoutShaders() {
#ifndef ARCA_INSTALLER
    if (!qEnvironmentVariableIsSet("QML_USE_GLYPHCACHE_WORKAROUND")) {
        qputenv("QML_USE_GLYPHCACHE_WORKAROUND", "1");
    }
#endif
}

// Qt Quick packs pictures into one shared texture, made with the first picture and sized after the window:
// 1024 by 512 pixels (2 MiB) for ours, 2048 by 1024 (8 MiB) at twice the scale. A software renderer
// allocates and clears all of it before the first frame (about 5 ms at the smaller size), for the few
// hundred kilobytes of pictures that a page shows. Each picture gets a texture of its own size instead.
// An explicit setting is left alone.
void keepPicturesInTexturesOfTheirOwn() {
    if (!qEnvironmentVariableIsSet("QSG_ATLAS_SIZE_LIMIT")) {
        qputenv("QSG_ATLAS_SIZE_LIMIT", "0");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    growGlyphTexturesWithoutShaders();
    keepPicturesInTexturesOfTheirOwn();
    // First, so that it also keeps what the services say while they start and while they end.
    const Utils::SupportLog support_log(Utils::SupportLog::defaultFolder(),
                                        QString::fromLatin1(kSupportLogName));
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
    app.closeOnTerminationSignals();
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
