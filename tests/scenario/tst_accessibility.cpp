// The window as keyboard users and screen readers meet it: every page of the demo walked through
// QAccessible from the window down, and the demo's update and repair played with key events only.
#include <QAccessible>
#include <QQuickItem>
#include <QtTest>

#include "app/application.h"
#include "tests/scenario/scenariotest.h"
#include "tests/support/accessibletree.h"

using HidSim::DeviceType;
using TestSupport::plug;

namespace {

QString dump(const QVector<AccessibleNode>& tree) {
    QStringList lines;
    for (const AccessibleNode& node : tree) {
        lines.append(QString(node.depth * 2, QLatin1Char(' ')) + node.describe() +
                     (node.focused ? QStringLiteral(" (focused)") : QString()));
    }
    return lines.join(QLatin1Char('\n'));
}

const AccessibleNode* find(const QVector<AccessibleNode>& tree, QAccessible::Role role, const QString& name) {
    for (const AccessibleNode& node : tree) {
        if (node.role == role && node.name == name) {
            return &node;
        }
    }
    return nullptr;
}

}  // namespace

class TestAccessibility : public ScenarioTest {
    Q_OBJECT

public:
    using ScenarioTest::ScenarioTest;

private:
    int m_receiver = 0;

    QString focusName() const {
        QQuickItem* item = m_ui.window()->activeFocusItem();
        return item ? item->objectName() : QString();
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        m_ui.forgetPages();
        QTest::keyClick(m_ui.window(), key, modifiers);
    }

    // Tab until the named element has the focus; the names passed on the way, in order.
    QStringList tabTo(const QString& name) {
        QStringList passed;
        for (int i = 0; i < 12 && focusName() != name; ++i) {
            key(Qt::Key_Tab);
            passed.append(focusName());
        }
        return passed;
    }

    // The page's actionable elements all named, the expected ones present, its title focused and
    // announced since the page came.
    QVector<AccessibleNode> walk(const QList<QPair<QAccessible::Role, QString>>& expected) {
        const QVector<AccessibleNode> tree = accessibleTree(m_ui.window());
        const QString page = m_ui.pageName();
        [&] {
            const QStringList unnamed = unnamedActionables(tree);
            QVERIFY2(unnamed.isEmpty(),
                     qPrintable(page + QStringLiteral(": ") + unnamed.join(QLatin1String("; ")) +
                                QLatin1Char('\n') + dump(tree)));
            for (const auto& item : expected) {
                QVERIFY2(find(tree, item.first, item.second),
                         qPrintable(page + QStringLiteral(" lacks ") + item.second + QLatin1Char('\n') +
                                    dump(tree)));
            }
            const QString title = m_ui.page()->property("title").toString();
            QVERIFY2(!title.isEmpty() && !find(tree, QAccessible::PageTab, title), qPrintable(page));
        }();
        return tree;
    }

    // A new page is announced by the focus moving to its title, a heading (on the repair page its first
    // step): the element a screen reader reads out when the focus moves.
    bool announced(const QString& page, const QString& text) {
        if (!m_ui.waitForPage(page, 30000)) {
            qWarning("still on %s, not %s", qPrintable(m_ui.pageName()), qPrintable(page));
            return false;
        }
        QString focused;
        for (const AccessibleNode& node : accessibleTree(m_ui.window())) {
            if (node.focused && node.role == (page == QLatin1String("repairPage") ? QAccessible::StaticText
                                                                                  : QAccessible::Heading)) {
                focused = node.name;
            }
        }
        if (focused != QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) && focused != text) {
            qWarning("%s: focus on \"%s\"", qPrintable(page), qPrintable(focused));
            return false;
        }
        return true;
    }

private slots:
    void initTestCase() {
        ScenarioTest::initTestCase();
        // A screen reader that is already running when the program starts.
        QAccessible::setActive(true);
    }

    // The demo: a receiver at 1.45 with 1.46 offered, a headset at 1.44.
    void init() {
        ScenarioTest::init();
        QString error;
        QVERIFY2(m_service.offerFirmware(QStringLiteral("Sorrel"), QStringLiteral("1.46.0"), kReceiverImage,
                                         QString(), QString(), &error),
                 qPrintable(error));
        m_receiver = plug(DeviceType::SorrelReceiver, QStringLiteral("R-0001"), QStringLiteral("1.45.0"));
        plug(DeviceType::SorrelHeadset, QStringLiteral("H-0001"), QStringLiteral("1.44.0"));
        QVERIFY(loadWindow());
        m_ui.window()->requestActivate();
        // The first window of a loaded machine can take more than the default five seconds.
        QVERIFY(QTest::qWaitForWindowActive(m_ui.window(), 15000));
        QVERIFY(announced(QStringLiteral("welcomePage"), QStringLiteral("The latest and greatest.")));
        QTRY_VERIFY_WITH_TIMEOUT(find(accessibleTree(m_ui.window()), QAccessible::Button,
                                      QStringLiteral("Receiver, Update available")),
                                 10000);
    }
    void cleanup() { ScenarioTest::cleanup(); }

    void keyboardOnlyUpdate() {
        // Flashing slow enough to read the progress page mid-way.
        HidSim::Timings bus = HidSim::timings();
        bus.updateReportIntervalUs = 300;
        HidSim::setTimings(bus);
        walk({{QAccessible::Button, QStringLiteral("Receiver, Update available")},
              {QAccessible::Button, QStringLiteral("Headset")}});
        QCOMPARE(tabTo(QStringLiteral("receiverTile")), QStringList{QStringLiteral("receiverTile")});
        key(Qt::Key_Space);
        QVERIFY(announced(QStringLiteral("receiverPage"), QStringLiteral("Receiver")));
        const QVector<AccessibleNode> page =
            walk({{QAccessible::Button, QStringLiteral("Back")},
                  {QAccessible::StaticText, QStringLiteral("Firmware Version: 1.45")},
                  {QAccessible::StaticText, QStringLiteral("1.46 available")},
                  {QAccessible::Button, QStringLiteral("RECONNECT")},
                  {QAccessible::Button, QStringLiteral("UPDATE")}});
        QVERIFY(find(page, QAccessible::Button, QStringLiteral("UPDATE"))
                    ->actions.contains(QAccessibleActionInterface::pressAction()));
        // Reading order, from the back arrow in the corner to the buttons at the bottom.
        QCOMPARE(tabTo(QStringLiteral("updateButton")),
                 QStringList({QStringLiteral("backButton"), QStringLiteral("versionLabel"),
                              QStringLiteral("availableLabel"), QStringLiteral("repairButton"),
                              QStringLiteral("updateButton")}));
        key(Qt::Key_Escape);
        QVERIFY(announced(QStringLiteral("welcomePage"), QStringLiteral("The latest and greatest.")));
        tabTo(QStringLiteral("receiverTile"));
        key(Qt::Key_Return);
        QVERIFY(announced(QStringLiteral("receiverPage"), QStringLiteral("Receiver")));
        tabTo(QStringLiteral("updateButton"));
        key(Qt::Key_Return);

        QVERIFY(m_ui.waitForPage(QStringLiteral("progressPage"), 5000));
        QTRY_VERIFY_WITH_TIMEOUT(m_ui.page()->property("percents").toInt() > 0, 10000);
        // The value and the title, as a screen reader reads them mid-way.
        const QVector<AccessibleNode> progress = accessibleTree(m_ui.window());
        const AccessibleNode* bar = nullptr;
        for (const AccessibleNode& node : progress) {
            bar = node.role == QAccessible::ProgressBar ? &node : bar;
        }
        QVERIFY2(bar, qPrintable(dump(progress)));
        const int percent = bar->description.chopped(1).toInt();
        QVERIFY2(bar->description.endsWith(QLatin1Char('%')) && percent % 10 == 0 && percent <= 100,
                 qPrintable(bar->describe()));
        QCOMPARE(bar->name, QStringLiteral("Updating your receiver..."));
        QVERIFY(find(progress, QAccessible::Heading, bar->name));
        QVERIFY(unnamedActionables(progress).isEmpty());
        QVERIFY(announced(QStringLiteral("finalPage"), QStringLiteral("You're all set!")));
        walk({{QAccessible::Button, QStringLiteral("DONE")}});
        QCOMPARE(HidSim::device(m_receiver).firmware, QStringLiteral("1.46.0"));
        QCOMPARE(tabTo(QStringLiteral("doneButton")), QStringList{QStringLiteral("doneButton")});
        key(Qt::Key_Enter);
        QVERIFY(announced(QStringLiteral("welcomePage"), QStringLiteral("The latest and greatest.")));
        QTRY_VERIFY_WITH_TIMEOUT(
            find(accessibleTree(m_ui.window()), QAccessible::Button, QStringLiteral("Receiver")), 5000);
    }

    // The rest of the demo by keyboard: the headset page, and RECONNECT through its steps to the end.
    void keyboardOnlyHeadsetAndRepair() {
        tabTo(QStringLiteral("headsetTile"));
        key(Qt::Key_Return);
        QVERIFY(announced(QStringLiteral("headsetPage"), QStringLiteral("Headset")));
        walk({{QAccessible::Button, QStringLiteral("Back")},
              {QAccessible::StaticText, QStringLiteral("Firmware Version: 1.44")},
              {QAccessible::Graphic, QStringLiteral("Up to date")},
              {QAccessible::Button, QStringLiteral("DONE")}});
        key(Qt::Key_Escape);
        QVERIFY(announced(QStringLiteral("welcomePage"), QStringLiteral("The latest and greatest.")));
        // Without its receiver the tile stays where it was, read as disabled: no Press, no focus.
        QVERIFY(HidSim::unplug(m_receiver));
        QTRY_VERIFY_WITH_TIMEOUT(
            find(accessibleTree(m_ui.window()), QAccessible::Button, QStringLiteral("No receiver connected")),
            5000);
        const AccessibleNode missing = *find(accessibleTree(m_ui.window()), QAccessible::Button,
                                             QStringLiteral("No receiver connected"));
        QVERIFY2(missing.disabled && !missing.actionable(), qPrintable(missing.describe()));
        m_receiver = plug(DeviceType::SorrelReceiver, QStringLiteral("R-0001"), QStringLiteral("1.45.0"));
        QTRY_VERIFY_WITH_TIMEOUT(find(accessibleTree(m_ui.window()), QAccessible::Button,
                                      QStringLiteral("Receiver, Update available")),
                                 10000);

        tabTo(QStringLiteral("receiverTile"));
        key(Qt::Key_Return);
        QVERIFY(announced(QStringLiteral("receiverPage"), QStringLiteral("Receiver")));
        tabTo(QStringLiteral("repairButton"));
        key(Qt::Key_Return);
        QVERIFY(
            announced(QStringLiteral("repairPage"), QStringLiteral("1. Go ahead and turn on your headset")));
        walk({{QAccessible::Button, QStringLiteral("Back")},
              {QAccessible::StaticText, QStringLiteral("1. Go ahead and turn on your headset")},
              {QAccessible::Button, QStringLiteral("NEXT")}});
        key(Qt::Key_Escape);
        QVERIFY(announced(QStringLiteral("receiverPage"), QStringLiteral("Receiver")));
        tabTo(QStringLiteral("repairButton"));
        key(Qt::Key_Space);
        QVERIFY(m_ui.waitForPage(QStringLiteral("repairPage")));
        tabTo(QStringLiteral("nextButton"));
        key(Qt::Key_Return);
        QVERIFY(m_ui.waitForPageShown(QStringLiteral("progressPage")));
        QVERIFY(announced(QStringLiteral("finalPage"), QStringLiteral("You're all set!")));
    }
};

int main(int argc, char** argv) {
    return runScenarios(argc, argv, [](Application& app, quint16 port) -> QObject* {
        return new TestAccessibility(app, port);
    });
}

#include "tst_accessibility.moc"
