#include "tests/support/accessibletree.h"

#include <QMetaEnum>
#include <QVariantMap>
#include <QWindow>

namespace {

void collect(QAccessibleInterface* node, int depth, QVector<AccessibleNode>* out) {
    if (!node || !node->isValid() || depth > 64) {
        return;
    }
    const QAccessible::State state = node->state();
    if (state.invisible) {
        return;
    }
    AccessibleNode entry;
    entry.role = node->role();
    entry.name = node->text(QAccessible::Name);
    entry.description = node->text(QAccessible::Description);
    entry.focusable = state.focusable;
    entry.focused = state.focused;
    entry.disabled = state.disabled;
    entry.depth = depth;
    if (QAccessibleActionInterface* actions = node->actionInterface()) {
        entry.actions = actions->actionNames();
    }
    if (QAccessibleValueInterface* value = node->valueInterface()) {
        entry.value = value->currentValue();
    }
    out->append(entry);
    for (int i = 0; i < node->childCount(); ++i) {
        collect(node->child(i), depth + 1, out);
    }
}

}  // namespace

QString AccessibleNode::roleName() const {
    return QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role));
}

bool AccessibleNode::actionable() const {
    return focusable || actions.contains(QAccessibleActionInterface::pressAction());
}

QString AccessibleNode::describe() const {
    return QStringLiteral("%1 \"%2\" (%3) [%4]%5")
        .arg(roleName(), name, description, actions.join(QLatin1Char(',')),
             value.isValid() ? QStringLiteral(" = ") + value.toString() : QString());
}

QVector<AccessibleNode> accessibleTree(QWindow* window) {
    QAccessible::setActive(true);
    QVector<AccessibleNode> tree;
    collect(QAccessible::queryAccessibleInterface(window), 0, &tree);
    return tree;
}

QStringList unnamedActionables(const QVector<AccessibleNode>& tree) {
    QStringList faults;
    for (const AccessibleNode& node : tree) {
        const bool noRole = node.role == QAccessible::NoRole || node.role == QAccessible::Client;
        if (node.actionable() && (noRole || node.name.trimmed().isEmpty())) {
            faults.append(node.describe());
        }
    }
    return faults;
}

QVariantList accessibleTreeAsVariant(QWindow* window) {
    QVariantList list;
    for (const AccessibleNode& node : accessibleTree(window)) {
        list.append(QVariantMap{{QStringLiteral("role"), node.roleName()},
                                {QStringLiteral("name"), node.name},
                                {QStringLiteral("description"), node.description},
                                {QStringLiteral("actions"), node.actions},
                                {QStringLiteral("value"), node.value},
                                {QStringLiteral("focusable"), node.focusable},
                                {QStringLiteral("focused"), node.focused},
                                {QStringLiteral("disabled"), node.disabled}});
    }
    return list;
}
