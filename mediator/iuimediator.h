#pragma once

#include <QObject>

#include "base/smarttype.h"

namespace UIMediator {

// Base of the QML-facing mediators. They belong to the application; the QML engine must never delete one
// just because QML code touched it.
class IUIMediator : public QObject, public Utils::SmartType<IUIMediator> {
public:
    explicit IUIMediator(QObject* parent = nullptr);
    ~IUIMediator() override = default;
};

}  // namespace UIMediator
