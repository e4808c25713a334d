#include "app/accessibility.h"

#include <QtQuick/private/qaccessiblequickitem_p.h>
#include <QAccessible>
#include <QQuickItem>

namespace {

class QuickItemAccessible final : public QAccessibleQuickItem {
public:
    using QAccessibleQuickItem::QAccessibleQuickItem;

    // Only items Qt would expose itself (those with accessible content and their ancestors).
    static QAccessibleInterface* create(QQuickItem* item) {
        auto* iface = new QuickItemAccessible(item);
        if (!iface->isAccessible()) {
            delete iface;
            return nullptr;
        }
        // A reader keeps what it was told: say when the disabled state flips, as Qt does for its own states.
        QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
            QAccessible::State changed;
            changed.disabled = true;
            QAccessibleStateChangeEvent event(item, changed);
            QAccessible::updateAccessibility(&event);
        });
        return iface;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleQuickItem::state();
        if (!item()->isEnabled()) {
            state.disabled = true;
            state.focusable = false;
        }
        return state;
    }

    QAccessible::Role role() const override {
        return item()->property("accessibleHeading").toBool() ? QAccessible::Heading
                                                              : QAccessibleQuickItem::role();
    }

    QStringList actionNames() const override {
        return item()->isEnabled() ? QAccessibleQuickItem::actionNames() : QStringList();
    }

    void doAction(const QString& actionName) override {
        if (item()->isEnabled()) {
            QAccessibleQuickItem::doAction(actionName);
        }
    }
};

QAccessibleInterface* quickItemFactory(const QString& /*className*/, QObject* object) {
    // Windows, everything that is no item, and pages (which Qt's controls read in their own order) stay
    // with Qt's factories.
    auto* item = qobject_cast<QQuickItem*>(object);
    return item && !item->inherits("QQuickPage") ? QuickItemAccessible::create(item) : nullptr;
}

}  // namespace

void installAccessibility() {
    // Qt's own factories answer for a class by its C++ name (QQuickItem, QQuickPage); this one answers by
    // type, so it is asked first for an item of any type that derives from them.
    QAccessible::installFactory(&quickItemFactory);
}
