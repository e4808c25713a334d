#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <memory>

class Application;
class QQmlApplicationEngine;

namespace UIMediator {
class UIFirmwareUpdateMediator;
class UISoftwareUpdateMediator;
}
namespace Updater {
class UpdateManager;
}

// The program's window as main() builds it, and the moves of a person in front of it: find an item of the
// current page by objectName, click its centre, wait for a page.
class ScenarioWindow {
public:
    explicit ScenarioWindow(Application& app);
    ~ScenarioWindow();

    // Loads qrc:/main.qml with the program's fonts and "App"; false with the reason when no window showed.
    bool load(QString* error);
    void unload();

    [[nodiscard]] QQuickWindow* window() const { return m_window; }
    [[nodiscard]] QObject* object(const QString& name) const;
    [[nodiscard]] QQuickItem* page() const;
    [[nodiscard]] QString pageName() const;
    [[nodiscard]] QQuickItem* item(const QString& name) const;
    [[nodiscard]] QString text(const QString& name) const;
    [[nodiscard]] bool isShown(const QString& name) const;
    [[nodiscard]] bool isShownAndEnabled(const QString& name) const;

    // Clicks the centre of a shown and enabled item of the current page; false when there is none.
    bool click(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    bool waitForPage(const QString& name, int timeout_ms = 5000);
    // A page that may already have gone again, such as progress on a fast update: true once it was shown
    // since the last click or forgetPages().
    bool waitForPageShown(const QString& name, int timeout_ms = 5000);
    void forgetPages() { m_shown.clear(); }
    // The tile becomes enabled, then is clicked: what a person does after plugging a device.
    bool openFromWelcome(const QString& tile, const QString& expected_page);

    [[nodiscard]] UIMediator::UIFirmwareUpdateMediator* firmware() const;
    [[nodiscard]] Updater::UpdateManager* updates() const;
    [[nodiscard]] UIMediator::UISoftwareUpdateMediator* software() const;

    // QML warnings and errors of the window since the last call.
    QStringList takeQmlMessages();

private:
    Application& m_app;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QPointer<QQuickWindow> m_window;
    QStringList m_shown;
};
