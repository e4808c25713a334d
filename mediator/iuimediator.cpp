#include "mediator/iuimediator.h"

#include <QQmlEngine>

namespace UIMediator {

IUIMediator::IUIMediator(QObject* parent) : QObject(parent) {
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

}  // namespace UIMediator
