#pragma once

#include <QString>
#include <QtGlobal>

#include "base/nocopyable.h"
#include "base/smarttype.h"
#include "io/deviceid.h"

namespace DFU {

// The one way into the flashing engine. Every operation reports only success or failure: the engine's
// codes mean nothing to the rest of the program.
class IUpdater : public Utils::NoCopyable, public Utils::SmartType<IUpdater> {
public:
    virtual ~IUpdater() = default;

    virtual bool connect(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage) = 0;
    virtual bool connect(const Io::DeviceId& id) = 0;
    virtual bool upgrade(const QString& path) = 0;
    virtual bool backup(const QString& path) = 0;
    virtual bool resetDevice() = 0;
    virtual bool disconnect() = 0;
    // Leaves percent untouched when the engine reports a failed transfer.
    virtual bool getProgress(quint8& percent) = 0;
};

}  // namespace DFU
