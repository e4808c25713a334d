#include "tests/scenario/scenariowindow.h"

#include "mediator/uisoftwareupdatemediator.h"

#include <QDir>
#include <QMetaProperty>
#include <functional>
#include <QFontDatabase>
#include <QMutex>
#include <QMutexLocker>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QtTest>

#include "app/application.h"
#include "app/pictureproviders.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "updater/updatemanager.h"

namespace {

// Notes every page the stack shows, also one that is replaced again before the test looks.
class PageRecorder : public QObject {
    Q_OBJECT
public:
    PageRecorder(std::function<void()> record, QObject* parent) : QObject(parent), m_record(std::move(record)) {}

public slots:
    void record() { m_record(); }

private:
    std::function<void()> m_record;
};

QMutex g_messagesMutex;
QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

// Keeps what QML reports about its own files: a TypeError in a handler leaves the page as it was, which
// a scenario would otherwise only see as a time-out.
void recordQmlMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool fromQml = message.contains(QLatin1String("qrc:/")) ||
                         (context.file && QByteArray(context.file).startsWith("qrc:/"));
    if (fromQml && type != QtDebugMsg && type != QtInfoMsg) {
        QMutexLocker locker(&g_messagesMutex);
        g_messages.append(message);
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}

void loadFonts() {
    static bool loaded = false;
    if (loaded) {
        return;
    }
    loaded = true;
    const QDir fonts(QStringLiteral(":/fonts"));
    const auto entries = fonts.entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        QFontDatabase::addApplicationFont(entry.absoluteFilePath());
    }
}

}  // namespace

ScenarioWindow::ScenarioWindow(Application& app) : m_app(app) {
    if (!g_previousHandler) {
        g_previousHandler = qInstallMessageHandler(recordQmlMessage);
    }
}

ScenarioWindow::~ScenarioWindow() {
    unload();
}

bool ScenarioWindow::load(QString* error) {
    unload();
    loadFonts();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->rootContext()->setContextProperty(QStringLiteral("App"), &m_app);
    addPictureProviders(*m_engine);
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (m_engine->rootObjects().isEmpty()) {
        *error = QStringLiteral("main.qml gave no object: ") + takeQmlMessages().join(QLatin1Char('\n'));
        return false;
    }
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    if (!m_window) {
        *error = QStringLiteral("the root object of main.qml is not a window");
        return false;
    }
    // Without these hints Windows keeps the close entry of the system menu enabled during an update.
    const Qt::WindowFlags hints = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                  Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if ((m_window->flags() & hints) != hints) {
        *error = QStringLiteral("the window lacks the title, system menu, minimise or close hint");
        return false;
    }
    if (QObject* stack = object(QStringLiteral("stackView"))) {
        const QMetaProperty current =
            stack->metaObject()->property(stack->metaObject()->indexOfProperty("currentItem"));
        const QMetaMethod changed = current.notifySignal();
        auto* recorder = new PageRecorder([this] { m_shown.append(pageName()); }, stack);
        QObject::connect(stack, changed, recorder,
                         recorder->metaObject()->method(recorder->metaObject()->indexOfSlot("record()")));
        Q_ASSERT(changed.isValid());
    }
    if (!QTest::qWaitForWindowExposed(m_window)) {
        *error = QStringLiteral("the window was never exposed");
        return false;
    }
    return true;
}

void ScenarioWindow::unload() {
    m_engine.reset();
}

QObject* ScenarioWindow::object(const QString& name) const {
    return m_window ? m_window->findChild<QObject*>(name) : nullptr;
}

QQuickItem* ScenarioWindow::page() const {
    QObject* stack = object(QStringLiteral("stackView"));
    return stack ? stack->property("currentItem").value<QQuickItem*>() : nullptr;
}

QString ScenarioWindow::pageName() const {
    QQuickItem* current = page();
    return current ? current->objectName() : QString();
}

QQuickItem* ScenarioWindow::item(const QString& name) const {
    QQuickItem* current = page();
    return current ? current->findChild<QQuickItem*>(name) : nullptr;
}

QString ScenarioWindow::text(const QString& name) const {
    QQuickItem* target = item(name);
    return target ? target->property("text").toString() : QString();
}

bool ScenarioWindow::isShown(const QString& name) const {
    QQuickItem* target = item(name);
    return target && target->isVisible() && target->opacity() > 0;
}

bool ScenarioWindow::isShownAndEnabled(const QString& name) const {
    QQuickItem* target = item(name);
    return isShown(name) && target->isEnabled();
}

bool ScenarioWindow::click(const QString& name, Qt::KeyboardModifiers modifiers) {
    if (!isShownAndEnabled(name)) {
        return false;
    }
    QQuickItem* target = item(name);
    forgetPages();
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, modifiers, centre.toPoint());
    return true;
}

bool ScenarioWindow::waitForPageShown(const QString& name, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!m_shown.contains(name) && pageName() != name && timer.elapsed() < timeout_ms) {
        QTest::qWait(5);
    }
    return m_shown.contains(name) || pageName() == name;
}

bool ScenarioWindow::waitForPage(const QString& name, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (pageName() != name && timer.elapsed() < timeout_ms) {
        QTest::qWait(5);
    }
    return pageName() == name;
}

bool ScenarioWindow::openFromWelcome(const QString& tile, const QString& expected_page) {
    QElapsedTimer timer;
    timer.start();
    while (!isShownAndEnabled(tile) && timer.elapsed() < 3000) {
        QTest::qWait(5);
    }
    return click(tile) && waitForPage(expected_page);
}

UIMediator::UIFirmwareUpdateMediator* ScenarioWindow::firmware() const {
    return qobject_cast<UIMediator::UIFirmwareUpdateMediator*>(m_app.firmwareUpdateMediator());
}

UIMediator::UISoftwareUpdateMediator* ScenarioWindow::software() const {
    return qobject_cast<UIMediator::UISoftwareUpdateMediator*>(m_app.softwareUpdateMediator());
}

Updater::UpdateManager* ScenarioWindow::updates() const {
    return qobject_cast<Updater::UpdateManager*>(m_app.updateManager());
}

QStringList ScenarioWindow::takeQmlMessages() {
    QMutexLocker locker(&g_messagesMutex);
    QStringList messages;
    messages.swap(g_messages);
    return messages;
}

#include "scenariowindow.moc"
