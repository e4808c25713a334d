#pragma once

#include <QAccessible>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVector>

class QWindow;

// One element of a window as a screen reader meets it: found through QAccessible from the window down,
// never through the QML objects.
struct AccessibleNode {
    QAccessible::Role role = QAccessible::NoRole;
    QString name;
    QString description;
    QStringList actions;
    QVariant value;  // only for elements with a value, such as a progress bar
    bool focusable = false;
    bool focused = false;
    bool disabled = false;
    int depth = 0;

    [[nodiscard]] QString roleName() const;
    // An element that a user can act on: it has an action of its own or takes the keyboard focus.
    [[nodiscard]] bool actionable() const;
    [[nodiscard]] QString describe() const;
};

// The shown elements of the window, depth first in the order the tree gives them. Turns the platform's
// accessibility on, as a screen reader does: some elements only take their role and name then.
QVector<AccessibleNode> accessibleTree(QWindow* window);

// One line for every actionable element without a role or a name; empty when every one has both.
QStringList unnamedActionables(const QVector<AccessibleNode>& tree);

// The tree as maps for QML tests: role (its name), name, description, actions, value, focusable,
// focused, disabled.
QVariantList accessibleTreeAsVariant(QWindow* window);
