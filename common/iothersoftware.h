#pragma once

#include <QObject>
#include <QUrl>

#include "base/smarttype.h"

namespace Common {

// Starts the maker's pairing software, or names the page where it can be obtained.
class IOtherSoftware : public QObject, public Utils::SmartType<IOtherSoftware> {
    Q_OBJECT

public:
    ~IOtherSoftware() override = default;

    Q_INVOKABLE virtual QUrl getPairwellSoftwareLink() = 0;
    Q_INVOKABLE virtual bool runPairwellSoftware() = 0;

protected:
    explicit IOtherSoftware(QObject* parent = nullptr) : QObject(parent) {}
};

}  // namespace Common
