#pragma once

#include <QObject>

#include "base/smarttype.h"

namespace Common {

// Operating-system services of one deliverable: one process per key, hand-over of a second start's request
// to the first, the close entry of the window menu and system sleep. QML reaches it as App.appExtension.
class IAppExtension : public QObject, public Utils::SmartType<IAppExtension> {
    Q_OBJECT

public:
    ~IAppExtension() override = default;

    Q_INVOKABLE virtual bool setSystemSleepEnabled(bool _enabled) = 0;
    Q_INVOKABLE virtual bool hasRunningInstance() = 0;
    Q_INVOKABLE virtual bool activateRunningInstance() = 0;
    Q_INVOKABLE virtual bool closeRunningInstance() = 0;
    Q_INVOKABLE virtual void decorateWindow(QObject* _obj) = 0;
    Q_INVOKABLE virtual void setCloseButtonEnabled(QObject* _obj, bool _enabled) = 0;

signals:
    void activateRequested();
    void closeRequested();

protected:
    explicit IAppExtension(QObject* parent = nullptr) : QObject(parent) {}
};

}  // namespace Common
