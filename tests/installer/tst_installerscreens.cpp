#include <QAccessible>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVariantList>
#include <QWindow>
#include <QtQml>
#include <QtQuickTest>
#include <memory>

#include "app/accessibility.h"
#include "app/theme.h"
#include "common/appextension.h"
#include "mediator/uiinstallermediator.h"
#include "tests/support/accessibletree.h"

namespace {

// The window services of the application extension, recorded instead of applied: the screens' contract
// with them is the order of the calls, which a window manager under Xvfb would not show.
class WindowServices : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList closeButtonStates READ closeButtonStates NOTIFY changed)
    Q_PROPERTY(int decorations READ decorations NOTIFY changed)

public:
    Q_INVOKABLE void decorateWindow(QObject* window) {
        if (window) {
            ++m_decorations;
            emit changed();
        }
    }
    Q_INVOKABLE void setCloseButtonEnabled(QObject* window, bool enabled) {
        if (window) {
            m_closeButtonStates.append(enabled);
            emit changed();
        }
    }
    Q_INVOKABLE bool setSystemSleepEnabled(bool) { return true; }

    [[nodiscard]] QVariantList closeButtonStates() const { return m_closeButtonStates; }
    [[nodiscard]] int decorations() const { return m_decorations; }

    void clear() {
        m_closeButtonStates.clear();
        m_decorations = 0;
    }

signals:
    void changed();

private:
    QVariantList m_closeButtonStates;
    int m_decorations = 0;
};

// Stands in for the installer's Application as "App": the real mediator, with an engine of the test's
// choosing, and a fresh one for every window so that no test sees another's status.
class InstallerApp : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* appExtension READ appExtension CONSTANT)
    Q_PROPERTY(QObject* installerMediator READ installerMediator NOTIFY installerMediatorChanged)
    Q_PROPERTY(QStringList openedUrls MEMBER m_openedUrls NOTIFY openedUrlsChanged)

public:
    InstallerApp() { reset(); }

    [[nodiscard]] QObject* appExtension() { return &m_services; }
    [[nodiscard]] QObject* installerMediator() const { return m_mediator.get(); }

    // A fresh mediator whose engine is the shell script given.
    Q_INVOKABLE void reset(const QString& engineScript = QStringLiteral("exit 0")) {
        m_services.clear();
        if (m_mediator) {
            // QML may still hold the old one until its window is gone.
            m_mediator.release()->deleteLater();
        }
        m_mediator = std::make_unique<UIMediator::UIInstallerMediator>();
        Platform::InstallEngine engine;
        engine.setCommand({QStringLiteral("/bin/sh"), {QStringLiteral("-c"), engineScript}});
        m_mediator->setEngine(engine);
        emit installerMediatorChanged();
    }

    Q_INVOKABLE void setEngine(const QString& engineScript) {
        Platform::InstallEngine engine;
        engine.setCommand({QStringLiteral("/bin/sh"), {QStringLiteral("-c"), engineScript}});
        m_mediator->setEngine(engine);
    }

    // A main program that runs, takes the close command and ends a little later.
    Q_INVOKABLE void runProgram() {
        const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_program = std::make_unique<Common::AppExtension>(key);
        connect(m_program.get(), &Common::IAppExtension::closeRequested, this,
                [this] { QTimer::singleShot(300, this, [this] { m_program.reset(); }); });
        m_mediator->setProgramToClose(key, 10000);
    }

    // The window as a screen reader finds it, through QAccessible.
    Q_INVOKABLE QVariantList accessibleTree(QObject* window) const {
        return accessibleTreeAsVariant(qobject_cast<QWindow*>(window));
    }

public slots:
    // Stands in for the web browser: the links are recorded, never opened.
    void openUrl(const QUrl& url) {
        m_openedUrls.append(url.toString());
        emit openedUrlsChanged();
    }

signals:
    void installerMediatorChanged();
    void openedUrlsChanged();

private:
    WindowServices m_services;
    std::unique_ptr<UIMediator::UIInstallerMediator> m_mediator;
    std::unique_ptr<Common::AppExtension> m_program;
    QStringList m_openedUrls;
};

QObject* createTheme(QQmlEngine*, QJSEngine*) {
    return new Theme();
}

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(QStringLiteral("Sonella Desktop"));
        qmlRegisterSingletonType<Theme>("Arca.Theme", 1, 0, "Theme", createTheme);
        qmlRegisterUncreatableType<UIMediator::UIInstallerMediator>(
            "Arca.UIMediator.Enums", 1, 0, "UIInstallerMediator",
            QStringLiteral("Error - class UIInstallerMediator uncreatable"));
        qRegisterMetaType<UIMediator::UIInstallerMediator::Status>("Status");
        m_app = std::make_unique<InstallerApp>();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), m_app.get(), "openUrl");
        installAccessibility();
        // A screen reader that is already running when the installer starts.
        QAccessible::setActive(true);
        // launch() with nothing installed searches PATH for the bare name, so a Meldra installed on the
        // machine must not be found there; the stand-in engines need nothing but sleep.
        const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        if (m_path.isValid() && QFile::link(sleep, m_path.filePath(QStringLiteral("sleep")))) {
            qputenv("PATH", QFile::encodeName(m_path.path()));
        }
    }

    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->rootContext()->setContextProperty(QStringLiteral("App"), m_app.get());
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        m_app.reset();
    }

private:
    // Made once the application exists: the engine's defaults live beside the executable.
    std::unique_ptr<InstallerApp> m_app;
    QTemporaryDir m_path;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(installerscreens, Setup)

#include "tst_installerscreens.moc"
